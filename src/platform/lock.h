// The library-wide recursive lock and the load/unload hooks.
#pragma once

namespace q32vex {

void LockInit();
void LockEnter();
void LockLeave();
void LockDestroy();

}  // namespace q32vex
