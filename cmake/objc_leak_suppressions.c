/* LeakSanitizer's suppressions, in AddressSanitizer builds of every program:
 * GCC's libobjc keeps a few small blocks where the leak checker cannot see
 * them (from its own start, and the name copies of every method added at run
 * time), all taken with objc_malloc. Only those are excused: instances are
 * taken with objc_calloc and stay checked. */
__attribute__((visibility("default"))) const char* __lsan_default_suppressions(void);
__attribute__((visibility("default"))) const char* __lsan_default_options(void);

const char* __lsan_default_suppressions(void) {
  return "leak:objc_malloc\n";
}

/* The excused blocks are no news: nothing is printed about them, so a
 * program's standard error stays its own. */
const char* __lsan_default_options(void) {
  return "print_suppressions=0";
}
