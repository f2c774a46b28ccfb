#pragma once
// The program's forms, each created on first access and forgotten when it unloads.
class MainForm;
class SetForm;
class IdPassForm;
class OptionForm;
class Form1;
class MsgForm;

namespace forms {

::MainForm& MainForm();
bool MainFormLoaded();

::SetForm& SetForm();
bool SetFormLoaded();
::SetForm* SetFormIfLoaded();

::IdPassForm& IdPassForm();
bool IdPassFormLoaded();

::OptionForm& OptionForm();
bool OptionFormLoaded();

::Form1& Form1();
bool Form1Loaded();
// Unloads the ghost cat when it is loaded; nothing otherwise.
void UnloadForm1();

::MsgForm& MsgForm();
bool MsgFormLoaded();
void UnloadMsgForm();

// Destroys every form at once, without unload handling (the process is ending, or a test is done).
void DestroyAll();

}  // namespace forms
