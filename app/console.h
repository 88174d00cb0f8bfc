// The console of the test driver: how standard output reaches the user, and the final key wait.
// One source file per platform implements it.
#pragma once

// Call before the first printf. On a terminal every printf reaches the screen whole before it
// returns, line break or not; to a file or a pipe, output is fully buffered (4,096 bytes) and
// written when the buffer fills and at exit. A closed output or a reader that went away must
// neither crash the program nor change its exit status.
void CONSOLE_PrepareOutput();

// Waits until a key press is pending on the terminal's keyboard (whatever standard input is
// redirected to), without consuming it: the key stays for whatever reads next. Returns at once
// when there is no terminal keyboard to wait on.
void CONSOLE_WaitForKey();
