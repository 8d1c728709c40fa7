// Default options of the sanitizer runtimes, linked into every sanitized test program and fuzz
// target: the first report ends the program with a failure, leaks included. Options given in the
// environment (ASAN_OPTIONS and the like) are read after these and may add to them.

extern "C" {

const char* __asan_default_options() {
  return "halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:"
         "strict_init_order=1:strict_string_checks=1";
}

const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

const char* __tsan_default_options() { return "halt_on_error=1:second_deadlock_stack=1"; }

} // extern "C"
