// Choosing the mail program and hanging up dial-up connections.
#include "app/main_form.h"

// Still to come with the mail watch: these commands do nothing yet.
void MainForm::Command5_Click() {}
void MainForm::Command7_Click() {}
