// SPDX-License-Identifier: MIT
// Built with the 32-bit build's flags and run at configure time: whether it
// runs tells whether this kernel executes i386 programs.
int main() { return sizeof(void *) == 4 ? 0 : 1; }
