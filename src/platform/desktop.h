#pragma once
// The desktop session the program runs in.

namespace platform {

// Before any application object exists: the libraries' own diagnostics stay off the terminal (Qt 6.8,
// for one, prints four lines on every start under a locale that is not UTF-8, as it switches to
// C.UTF-8); what the program has to say on the command line it prints itself.
void KeepLibrariesQuiet();

// Before the application object exists: run on X11 (through XWayland in a Wayland session), since
// the program places, raises and shapes its own windows, which Wayland does not let a client do;
// send repaints through the X connection rather than shared memory (cheaper for small windows
// repainted often); and keep the libraries' diagnostics off the terminal (above): the program prints
// nothing of its own accord.
void PrepareDesktopSession();

// After it exists: what was set above for Qt's X11 connection alone is taken back out of the
// environment, so that programs the clock starts (the mail program) do not inherit it.
void DesktopSessionStarted();

// After it exists: a font that has the Japanese glyphs of the interface, at the size it was drawn for.
void UseJapaneseFont();

}  // namespace platform
