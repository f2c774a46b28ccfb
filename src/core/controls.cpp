#include "core/controls.h"

#include <QAction>
#include <QApplication>
#include <algorithm>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "core/twips.h"
#include "platform/pictures.h"

namespace core {

namespace {

void Place_(QWidget* w, Place p, Shown shown) {
    w->setGeometry(PxRect(p.left, p.top, p.width, p.height));
    if (shown == Shown::Hidden) w->hide();
}

}  // namespace

// ---- TextBox

TextBox::TextBox(QWidget* parent, const QString& text, Place place, Shown shown)
    : edit_(new QLineEdit(text, parent)) {
    edit_->setFrame(true);
    Place_(edit_, place, shown);
    QObject::connect(edit_, &QLineEdit::textChanged, [this] {
        if (Change) Change();
    });
}

QString TextBox::Text() const { return edit_->text(); }

void TextBox::SetText(const QString& text) {
    // Setting the same text changes nothing and raises no change event; skipping it spares the
    // widget's relayout on every tick of the timers that keep writing their fields.
    if (edit_->text() == text) return;
    edit_->setText(text);
}

void TextBox::SetPasswordChar(QChar c) {
    edit_->setEchoMode(c.isNull() ? QLineEdit::Normal : QLineEdit::Password);
    // Password mode alone masks with the style's own character (a dot in most styles). The mask is a
    // style hint, and a style sheet sets it whatever the style, also after the style changes.
    edit_->setStyleSheet(c.isNull() ? QString()
                                    : QStringLiteral("lineedit-password-character: %1").arg(c.unicode()));
}

// ---- CheckBox

CheckBox::CheckBox(QWidget* parent, const QString& caption, Place place, int value, Shown shown)
    : box_(new QCheckBox(caption, parent)) {
    Place_(box_, place, shown);
    SetValue(value);
}

int CheckBox::Value() const {
    switch (box_->checkState()) {
        case Qt::Checked: return 1;
        case Qt::PartiallyChecked: return 2;
        default: return 0;
    }
}

void CheckBox::SetValue(int value) {
    // The greyed state can be set by the program but not reached by clicking.
    box_->setTristate(false);
    box_->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

// ---- Label

namespace {
class ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()>* dbl = nullptr;

protected:
    void mouseDoubleClickEvent(QMouseEvent*) override {
        if (dbl && *dbl) (*dbl)();
    }
};
}  // namespace

Label::Label(QWidget* parent, const QString& caption, Place place, Shown shown)
    : label_(new ClickLabel(caption, parent)), left_(place.left), top_(place.top) {
    static_cast<ClickLabel*>(label_)->dbl = &DblClick;
    label_->setWordWrap(place.height > 400);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Place_(label_, place, shown);
}

QString Label::Caption() const { return label_->text(); }

void Label::SetCaption(const QString& caption) {
    if (label_->text() != caption) label_->setText(caption);
}

void Label::SetLeft(int twips) {
    left_ = twips;
    const int px = Px(twips);
    if (label_->x() != px) label_->move(px, label_->y());
}

// ---- CommandButton

CommandButton::CommandButton(QWidget* parent, const QString& caption, Place place, Shown shown)
    : button_(new QPushButton(caption, parent)) {
    Place_(button_, place, shown);
    QObject::connect(button_, &QPushButton::clicked, [this] { Press(); });
}

QString CommandButton::Caption() const { return button_->text(); }

void CommandButton::SetDefault(bool on) {
    button_->setDefault(on);
    button_->setAutoDefault(on);
    if (!on) return;
    // Forms are plain windows, not dialogs, so Qt presses a default button only when it has the focus:
    // Enter anywhere in the window presses it here, unless another button has the focus (then that one).
    auto* enter = new QAction(button_);
    enter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    enter->setShortcutContext(Qt::WindowShortcut);
    button_->addAction(enter);
    QObject::connect(enter, &QAction::triggered, button_, [this] {
        auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        if (focused && focused != button_ && focused->window() == button_->window())
            focused->click();
        else
            Press();
    });
}

void CommandButton::SetCancel(bool on) {
    if (!on) return;
    auto* esc = new QAction(button_);
    esc->setShortcut(QKeySequence(Qt::Key_Escape));
    esc->setShortcutContext(Qt::WindowShortcut);
    button_->addAction(esc);
    QObject::connect(esc, &QAction::triggered, button_, [this] { Press(); });
}

// ---- PictureBox

class PictureView : public QWidget {
public:
    explicit PictureView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    QImage picture;
    QString source;
    std::vector<PictureBox::Stroke> pending, shown;
    std::vector<const DrawnLabel*> labels;
    std::function<void()>* click = nullptr;

    static QRect Bounds(const std::vector<PictureBox::Stroke>& strokes) {
        QRect r;
        for (const auto& s : strokes)
            r |= QRect(QPoint(std::min(s.x1, s.x2), std::min(s.y1, s.y2)),
                       QPoint(std::max(s.x1, s.x2), std::max(s.y1, s.y2)));
        return r;
    }

    void Paint(QPainter& p, const QRect& clip) const {
        p.setClipRect(clip);
        p.fillRect(clip, palette().window());
        if (!picture.isNull()) p.drawImage(0, 0, picture);
        for (const DrawnLabel* label : labels)
            if (label->PixelRect().intersects(clip)) p.drawPixmap(label->PixelRect().topLeft(), label->Rendered());
        p.setRenderHint(QPainter::Antialiasing, false);
        for (const auto& s : shown) {
            p.setPen(QPen(QColor::fromRgb(s.colour), 1));
            if (s.x1 == s.x2 && s.y1 == s.y2)
                p.drawPoint(s.x1, s.y1);
            else
                p.drawLine(s.x1, s.y1, s.x2, s.y2);
        }
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        Paint(p, e->rect());
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && click && *click)
            (*click)();
    }
};

PictureBox::PictureBox(QWidget* parent, Place place, const QImage& picture, Shown shown)
    : view_(new PictureView(parent)) {
    view_->picture = picture;
    view_->click = &Click;
    Place_(view_, place, shown);
}

const QImage& PictureBox::Picture() const { return view_->picture; }

void PictureBox::SetPicture(const QImage& picture) {
    view_->picture = picture;
    view_->source.clear();
    view_->update();
}

bool PictureBox::LoadPicture(const QString& path) {
    QImage img = platform::LoadPicture(path.toStdString());
    if (img.isNull()) return false;
    // The lamp reloads its picture every second: repaint only when something changed.
    if (path == view_->source && img == view_->picture) return true;
    view_->picture = std::move(img);
    view_->source = path;
    view_->update();
    return true;
}

QString PictureBox::PictureSource() const { return view_->source; }

void PictureBox::Cls() { view_->pending.clear(); }

void PictureBox::Line(int x1, int y1, int x2, int y2, QColor colour) {
    view_->pending.push_back({x1, y1, x2, y2, colour.rgb()});
}

void PictureBox::Refresh() {
    if (view_->pending == view_->shown) return;  // nothing on screen would change
    // One pixel of margin covers the pen's end points.
    const QRect dirty = (PictureView::Bounds(view_->shown) | PictureView::Bounds(view_->pending)).adjusted(-1, -1, 1, 1);
    view_->shown = view_->pending;
    view_->update(dirty);
}

QWidget* PictureBox::widget() const { return view_; }

QImage PictureBox::Snapshot() const {
    QImage img(view_->size(), QImage::Format_RGB32);
    QPainter p(&img);
    view_->Paint(p, img.rect());
    return img;
}

const std::vector<PictureBox::Stroke>& PictureBox::Strokes() const { return view_->shown; }

// ---- DrawnLabel

DrawnLabel::DrawnLabel(PictureBox& host, const QString& caption, Place place, QColor colour)
    : host_(host), caption_(caption), left_(place.left), top_(place.top), width_(place.width),
      height_(place.height), colour_(colour) {
    host_.view_->labels.push_back(this);
    Render();
}

DrawnLabel::~DrawnLabel() {
    auto& labels = host_.view_->labels;
    labels.erase(std::remove(labels.begin(), labels.end(), this), labels.end());
}

QRect DrawnLabel::PixelRect() const { return QRect(Px(left_), Px(top_), Px(width_), Px(height_)); }

void DrawnLabel::Render() {
    const qreal dpr = host_.view_->devicePixelRatioF();
    rendered_ = QPixmap(PixelRect().size() * dpr);
    rendered_.setDevicePixelRatio(dpr);
    rendered_.fill(Qt::transparent);
    QPainter p(&rendered_);
    p.setFont(host_.view_->font());
    p.setPen(colour_);
    p.drawText(QRect(QPoint(0, 0), PixelRect().size()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption_);
    p.end();
    host_.view_->update(PixelRect());
}

void DrawnLabel::SetCaption(const QString& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    Render();
}

void DrawnLabel::SetLeft(int twips) {
    const QRect before = PixelRect();
    left_ = twips;
    if (PixelRect() != before) host_.view_->update(before | PixelRect());
}

// ---- MenuItem

MenuItem::MenuItem(QMenu* menu, const QString& caption) {
    if (caption == QStringLiteral("-")) {
        action_ = menu->addSeparator();
        return;
    }
    action_ = menu->addAction(caption);
    QObject::connect(action_, &QAction::triggered, [this] {
        if (Click) Click();
    });
}

QString MenuItem::Caption() const { return action_->text(); }

}  // namespace core
