// The interval lamp.
#include "app/main_form.h"

// Still to come with the mail watch: the lamp keeps its stored picture until then.
void MainForm::Timer5_Timer() {}
