// Check scheduling: the interval counter, the trigger and the ticker.
#include "app/main_form.h"

// Still to come with the mail watch: these ticks do nothing yet.
void MainForm::Timer1_Timer() {}
void MainForm::Timer3_Timer() {}
void MainForm::Timer4_Timer() {}
