// The mail check.
#include "app/main_form.h"

// Still to come with the mail watch: the check does nothing yet.
void MainForm::CheckMail() {}

void MainForm::Command8_Click() { CheckMail(); }
void MainForm::Picture7_Click() { CheckMail(); }
