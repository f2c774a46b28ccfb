#pragma once
// The notice board "新着お知らせボード": one line with the new-mail text and the message count, on top
// of every window.
#include "core/controls.h"
#include "core/form.h"

class MsgForm : public core::Form {
public:
    MsgForm();
    void Form_Load() override;

    core::TextBox Text1;  // the notice line
    core::TextBox Text2;  // the message count
};
