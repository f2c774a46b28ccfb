#pragma once
// The desktop session the program runs in.
#include <QProcessEnvironment>

namespace platform {

// Before any application object exists: the libraries' own diagnostics stay off the terminal (Qt 6.8,
// for one, prints four lines on every start under a locale that is not UTF-8, as it switches to
// C.UTF-8); what the program has to say on the command line it prints itself.
void KeepLibrariesQuiet();

// Before the application object exists: run on X11 (through XWayland in a Wayland session), since
// the program places, raises and shapes its own windows, which Wayland does not let a client do;
// send repaints through the X connection rather than shared memory (cheaper for small windows
// repainted often); keep the libraries' diagnostics off the terminal (above): the program prints
// nothing of its own accord; and with no session bus named (a bare X session), keep libdbus from
// starting a bus daemon of its own for the program, one that would outlive it. The user's bus at the
// standard place ($XDG_RUNTIME_DIR/bus) is still used; without one the program has no session bus.
void PrepareDesktopSession();

// The environment the user started the program with, for the programs it starts: without what was
// set for the program's own libraries alone (the session bus setting above).
QProcessEnvironment UserEnvironment();

// After it exists: what was set above for Qt's X11 connection alone is taken back out of the
// environment, so that programs the clock starts (the mail program) do not inherit it.
void DesktopSessionStarted();

// After it exists: a font that has the Japanese glyphs of the interface, at the size it was drawn for.
void UseJapaneseFont();

}  // namespace platform
