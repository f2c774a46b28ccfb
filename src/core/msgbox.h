#pragma once
// Modal message boxes, with the style values and results the program was written against.
#include <QString>
#include <functional>

namespace core {

// Styles: buttons in the low bits, icon in the next ones; combine with +.
constexpr int vbOKOnly = 0;
constexpr int vbYesNo = 4;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
// Results.
constexpr int vbOK = 1;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

// Shows the box and waits until it is closed; returns the button chosen.
int MsgBox(const QString& prompt, int style, const QString& title);

// Tests answer boxes themselves: the hook sees every box and returns the button; nullptr restores real boxes.
using MsgBoxHook = std::function<int(const QString& prompt, int style, const QString& title)>;
void SetMsgBoxHook(MsgBoxHook hook);

}  // namespace core
