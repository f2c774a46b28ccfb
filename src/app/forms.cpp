#include "app/forms.h"

#include "app/main_form.h"
#include "core/form.h"
#include "ghostcat/ghost_cat_form.h"
#include "mail/msg_form.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"

namespace forms {

namespace {
core::FormSlot<::MainForm> g_main;
core::FormSlot<::SetForm> g_set;
core::FormSlot<::IdPassForm> g_idPass;
core::FormSlot<::OptionForm> g_option;
core::FormSlot<::Form1> g_form1;
core::FormSlot<::MsgForm> g_msg;
}  // namespace

::MainForm& MainForm() { return g_main.Get(); }
bool MainFormLoaded() { return g_main.Loaded(); }

::SetForm& SetForm() { return g_set.Get(); }
bool SetFormLoaded() { return g_set.Loaded(); }
::SetForm* SetFormIfLoaded() { return g_set.IfLoaded(); }

::IdPassForm& IdPassForm() { return g_idPass.Get(); }
bool IdPassFormLoaded() { return g_idPass.Loaded(); }

::OptionForm& OptionForm() { return g_option.Get(); }
bool OptionFormLoaded() { return g_option.Loaded(); }

::Form1& Form1() { return g_form1.Get(); }
bool Form1Loaded() { return g_form1.Loaded(); }
void UnloadForm1() { g_form1.Unload(); }

::MsgForm& MsgForm() { return g_msg.Get(); }
bool MsgFormLoaded() { return g_msg.Loaded(); }
void UnloadMsgForm() { g_msg.Unload(); }

void DestroyAll() {
    g_msg.Destroy();
    g_form1.Destroy();
    g_option.Destroy();
    g_idPass.Destroy();
    g_set.Destroy();
    g_main.Destroy();
}

}  // namespace forms
