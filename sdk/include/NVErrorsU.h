/* Result codes shared by the control panel and the device host.
   A result code is a signed 32-bit value, 0 for success. Operating-system error codes and a
   client library's own codes pass through unchanged beside these. Plain C so that the SDK
   headers can use it too. */
#ifndef NVERRORSU_H
#define NVERRORSU_H

enum NVErrors {
  NV_OK = 0,
  /* A request was accepted; its answer follows through a callback (the value of the
     system's "I/O pending" code). */
  NV_PENDING = 997,
  /* The thread object has already terminated. */
  NVERR_ALREADY_TERMINATED = 100003,
  /* The listener thread did not answer an initialise request within 5000 ms. */
  NVERR_LISTENER_NO_ANSWER = 100006,
  /* The thread did not finish its shutdown within 5000 ms. */
  NVERR_SHUTDOWN_TIMEOUT = 100014,
  /* The listener is already initialised. */
  NVERR_ALREADY_INITIALISED = 100016,
  /* Waiting for the listener's answer failed. */
  NVERR_WAIT_FAILED = 100017,
  /* The client library's entry is not bound; the library was not called. */
  NVERR_ENTRY_NOT_BOUND = 100021,
  /* The busy mutex was not obtained within 10000 ms; the library was not called. */
  NVERR_BUSY_TIMEOUT = 100027
};

#endif
