/* The result codes of Q417Client.dll's update entry beside 0, as the device host passes them back
   to its pipe client. Argument and memory failures use the system's codes (87, 8). Plain C. */
#ifndef Q417CLIENTCODES_H
#define Q417CLIENTCODES_H

enum Q417ClientResults {
  /* Every selector behind the references answered, and every SET that was due was taken. */
  Q417CLIENT_OK = 0,
  /* The request is neither empty nor a next-state table: shorter than its 4-byte count, or a
     negative count. No selector was asked and the response is empty. */
  Q417CLIENT_BAD_REQUEST = 417001,
  /* At least one selector did not answer with its state (time-out, closed reference, port error,
     an answer that is not a state line); it is left out of the packet, the others are served.
     Outranks the two codes below. */
  Q417CLIENT_SELECTOR_LEFT_OUT = 417002,
  /* At least one selector refused its SET with an ERROR answer; it keeps its previous state,
     which the packet shows. The other records were applied. Outranks the code below. */
  Q417CLIENT_SET_REFUSED = 417003,
  /* The table's count promises more records than its bytes hold: the complete records were
     applied, the rest was ignored. */
  Q417CLIENT_TABLE_SHORT = 417004
};

#endif
