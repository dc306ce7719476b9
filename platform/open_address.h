#ifndef WEBSETUP_PLATFORM_OPEN_ADDRESS_H_
#define WEBSETUP_PLATFORM_OPEN_ADDRESS_H_

// Opening a web address in the person's browser: the desktop's opener
// (xdg-open; the shell's "open" on Windows), or the program named by
// WEBSETUP_OPEN_COMMAND (tests, the demo).

#include <string>

namespace platform {

// Hands `address` to the desktop's opener, detached, with the rights of
// the person at the desktop rather than ours (a browser must not inherit
// a setup's administrator rights). Only an http or https address is
// opened: the opener would also run a program or open a file named to it,
// so the callers check what they pass (FuntionImpl::ShellOpen) and this
// refuses anything else again. Returns false when the address was refused
// or no opener could be started; on Windows the opening happens on a
// thread of its own and true means it was handed over.
bool openWebAddress(const std::string& address);

// Whether `address` is an http:// or https:// address (any letter case)
// with a host and no spaces or control characters.
bool isWebAddress(const std::string& address);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_OPEN_ADDRESS_H_
