#include "settings/set_form.h"

#include <QFont>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>

#include "app/forms.h"
#include "app/main_form.h"
#include "core/numbers.h"
#include "core/program.h"
#include "core/twips.h"
#include "mail/push.h"
#include "platform/window.h"
#include "settings/dialog_placement.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/profile_keys.h"

using core::Place;

namespace {

void ReadSwitch(core::CheckBox& box, const char* key) {
    const int32_t n = settings::ReadIntKey(paths::kIniFile, key);
    if (n == 1)
        box.SetValue(1);
    else if (n == 0)
        box.SetValue(0);
}

QString SwitchText(int value) { return value == 1 ? QStringLiteral("1") : QStringLiteral("0"); }

std::optional<settings::Options> g_unsaved;

void AddLine(QWidget* parent, int x1, int y1, int x2) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(core::Px(x1), core::Px(y1) - 1, core::Px(x2 - x1), 2);
}

}  // namespace

namespace settings {
void SetUnsavedOptions(std::optional<Options> options) { g_unsaved = std::move(options); }
}  // namespace settings

SetForm::SetForm()
    : core::Form(QStringLiteral("設定"), 3750, 4380),
      Command1(client(), QStringLiteral("ID/PASS"), Place{480, 120, 1455, 375}),
      Command2(client(), QStringLiteral("POPサーバー"), Place{1920, 120, 1455, 375}),
      Check1(client(), QString(), Place{480, 600, 255, 255}),
      Label1(client(), QStringLiteral("新着チェック後接続を切断する。"), Place{840, 645, 2535, 255}),
      Label5(client(), QStringLiteral("インターバルメールチェック"), Place{480, 1080, 2775, 375}),
      Label3(client(),
             QStringLiteral("０以上の数字を入力すると、その間隔で自動的にメールチェックを行います。"
                            "チェックの都度手動で行う場合は０にしておいて下さい。（単位は分です。）"),
             Place{480, 1440, 2895, 855}),
      Text2(client(), QString(), Place{2400, 2280, 375, 270}),
      Label2(client(), QStringLiteral("分"), Place{2880, 2325, 495, 255}),
      Check2(client(), QStringLiteral("新着お知らせボードを１秒で自動消去させる"), Place{120, 2880, 3735, 495}),
      Check3(client(), QString(), Place{120, 3480, 255, 255}),
      Label6(client(), QStringLiteral("新着有りで設定メーラーを起動"), Place{480, 3520, 2520, 375}),
      Check4(client(), QStringLiteral("新着ありで「ゴーストキャット」を出す"), Place{120, 3840, 3735, 495}) {
    platform::MakeOwned(hWnd());  // above the clock
    AddLine(client(), 360, 960, 3480);
    AddLine(client(), 240, 2760, 3360);

    QFont heading = Label5.widget()->font();
    heading.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    heading.setPointSize(9);
    heading.setBold(true);
    Label5.widget()->setFont(heading);
    Label3.widget()->setWordWrap(true);

    Text2.Change = [this] { Text2_Change(); };
    Command1.Click = [this] { Command1_Click(); };
    Command2.Click = [this] { Command2_Click(); };

    QWidget::setTabOrder(Command2.widget(), Command1.widget());
    QWidget::setTabOrder(Command1.widget(), Check1.widget());
    QWidget::setTabOrder(Check1.widget(), Text2.widget());
    QWidget::setTabOrder(Text2.widget(), Check2.widget());
    QWidget::setTabOrder(Check2.widget(), Check3.widget());
    QWidget::setTabOrder(Check3.widget(), Check4.widget());
    settings::PlaceBesideMainWindow(*this, 0);
}

void SetForm::Form_Load() {
    ReadSwitch(Check1, "NUMBER");
    // From empty to the number: the change handling runs at once.
    Text2.SetText(core::DecimalText(settings::ReadIntKey(paths::kIniFile, "NUMBER2")));
    ReadSwitch(Check2, "NUMBER4");
    ReadSwitch(Check3, "NUMBER3");
    ReadSwitch(Check4, "NUMBER5");
    loaded_ = Current();
    // The file still holds what an earlier close could not replace; what the person set stays in use.
    if (g_unsaved) {
        Check1.SetValue(g_unsaved->check1);
        Text2.SetText(g_unsaved->text2);
        Check2.SetValue(g_unsaved->check2);
        Check3.SetValue(g_unsaved->check3);
        Check4.SetValue(g_unsaved->check4);
    }
}

void SetForm::Form_Unload(int&) {
    const settings::Saved saved = SaveOptions();
    settings::SetUnsavedOptions(saved.ok ? std::nullopt : std::optional<settings::Options>(Current()));
    settings::ReportFailedSave(saved, QStringLiteral("設定（チェック間隔と４つのスイッチ）"),
                               settings::SavedFileName(paths::kIniFile));
}

settings::Options SetForm::Current() const {
    return {Check1.Value(), Check2.Value(), Check3.Value(), Check4.Value(), Text2.Text()};
}

settings::Saved SetForm::SaveOptions() {
    // All five in one replacement: a program killed while saving leaves all old or all new.
    return settings::WriteKeys(paths::kIniFile, {{"NUMBER", SwitchText(Check1.Value())},
                                                 {"NUMBER2", Text2.Text()},
                                                 {"NUMBER4", SwitchText(Check2.Value())},
                                                 {"NUMBER3", SwitchText(Check3.Value())},
                                                 {"NUMBER5", SwitchText(Check4.Value())}});
}

std::vector<settings::KeyValue> SetForm::ChangedOptions() const {
    const settings::Options now = Current();
    std::vector<settings::KeyValue> changed;
    if (now.check1 != loaded_.check1) changed.push_back({"NUMBER", SwitchText(now.check1)});
    if (now.text2 != loaded_.text2) changed.push_back({"NUMBER2", now.text2});
    if (now.check2 != loaded_.check2) changed.push_back({"NUMBER4", SwitchText(now.check2)});
    if (now.check3 != loaded_.check3) changed.push_back({"NUMBER3", SwitchText(now.check3)});
    if (now.check4 != loaded_.check4) changed.push_back({"NUMBER5", SwitchText(now.check4)});
    return changed;
}

void SetForm::Text2_Change() {
    if (Text2.Text().isEmpty()) Text2.SetText(QStringLiteral("0"));  // runs this handler again, nested
    const QString text = Text2.Text();
    const double n = core::LeadingNumber(text);
    ::MainForm& main = forms::MainForm();
    if (n > 0) {
        main.Label4.SetCaption(QStringLiteral("ON"));
        main.Check3.SetValue(1);
        main.Text5.SetText(text);
        main.Timer3.SetInterval(1000);
    } else if (n == 0) {
        main.Label4.SetCaption(QStringLiteral("OFF"));
        main.Check3.SetValue(0);
        main.Text5.SetText(text);
        main.Timer3.SetInterval(0);
        settings::WriteKey(paths::kIniFile, "NUMBER2", Text2.Text());
    }
    mail::UpdatePush();
}

void SetForm::Command1_Click() { forms::IdPassForm().Show(); }

void SetForm::Command2_Click() { forms::OptionForm().Show(); }
