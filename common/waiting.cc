#include "common/waiting.h"

namespace {

// Set once, first thing in main, and only read after that.
void (*wait_hook)() = nullptr;

}  // namespace

void on_wait(void (*hook)()) { wait_hook = hook; }

void before_wait() {
  if (wait_hook != nullptr) wait_hook();
}
