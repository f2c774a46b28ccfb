#include "core/controls.h"

#include <QAction>
#include <QApplication>
#include <algorithm>
#include <cstring>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

#include "core/twips.h"
#include "platform/pictures.h"
#include "platform/window_pixels.h"

namespace core {

namespace {

void Place_(QWidget* w, Place p, Shown shown) {
    w->setGeometry(PxRect(p.left, p.top, p.width, p.height));
    if (shown == Shown::Hidden) w->hide();
}

// Repaints a part of a widget. On a window that is on the screen the pixels are painted and sent to
// the window system at once, from the tick that changed them, rather than through a posted request
// handled on a later turn of the event loop; otherwise the usual deferred update.
void Repaint(QWidget* w, const QRect& r) {
    if (r.isEmpty()) return;
    if (w->isVisible() && w->window()->testAttribute(Qt::WA_Mapped))
        w->repaint(r);
    else
        w->update(r);
}

}  // namespace

// ---- TextBox

TextBox::TextBox(QWidget* parent, const QString& text, Place place, Shown shown)
    : edit_(new QLineEdit(text, parent)) {
    edit_->setFrame(true);
    Place_(edit_, place, shown);
    text_ = edit_->text();
    QObject::connect(edit_, &QLineEdit::textChanged, [this](const QString& now) {
        text_ = now;
        if (Change) Change();
    });
}

QString TextBox::Text() const { return text_; }

void TextBox::SetText(const QString& text) {
    // Setting the same text changes nothing and raises no change event; skipping it spares the
    // widget's relayout on every tick of the timers that keep writing their fields.
    if (text_ == text) return;
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
    std::optional<platform::FileStamp> sourceStamp;  // of the file source when it was read
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
        // Only what the picture leaves uncovered needs the background.
        const QRect covered = picture.hasAlphaChannel() ? QRect() : picture.rect();
        if (!covered.contains(clip)) p.fillRect(clip, palette().window());
        if (!picture.isNull()) p.drawImage(clip.topLeft(), picture, clip);
        for (const DrawnLabel* label : labels) {
            // Only the label's ink, where it meets the part being painted.
            const QRect ink = label->InkRect() & clip;
            if (ink.isEmpty()) continue;
            const qreal dpr = label->Rendered().devicePixelRatio();
            const QRectF from = QRectF(ink.translated(-label->PixelRect().topLeft()));
            p.drawPixmap(QRectF(ink), label->Rendered(), QRectF(from.topLeft() * dpr, from.size() * dpr));
        }
        p.setRenderHint(QPainter::Antialiasing, false);
        for (const auto& s : shown) {
            p.setPen(QPen(QColor::fromRgb(s.colour), 1));
            if (s.x1 == s.x2 && s.y1 == s.y2)
                p.drawPoint(s.x1, s.y1);
            else
                p.drawLine(s.x1, s.y1, s.x2, s.y2);
        }
    }

    // Shows a change within r: put straight into the window when it can be, else repainted.
    void Changed(const QRect& r) {
        if (r.isEmpty()) return;
        if (!PutDirect(r)) Repaint(this, r);
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        // An exposed window is shown from Qt's own copy of its pixels: bring that copy up to date.
        if (e->type() == QEvent::Expose && !stale.isEmpty()) {
            update(stale);
            stale = QRect();
        }
        return false;
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        Paint(p, e->rect());
        if (e->rect().contains(stale)) stale = QRect();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && click && *click)
            (*click)();
    }

private:
    // The ticker moves fifty times a second over a plain picture: its few changed pixels are composed
    // here and put into the window directly, at a fraction of what a repaint through Qt costs. Lines
    // and anything scaled or partly covered take the painter.
    bool PutDirect(const QRect& r) {
        if (!shown.empty() || picture.format() != QImage::Format_RGB32 || !picture.rect().contains(r)) return false;
        for (const DrawnLabel* label : labels)
            if (label->InkImage().devicePixelRatio() != 1.0) return false;
        if (!platform::CanPutPixels(this)) return false;
        // Composed in a canvas the size of the picture, in the same place.
        if (canvas.size() != picture.size()) canvas = QImage(picture.size(), QImage::Format_RGB32);
        const size_t rowBytes = size_t(r.width()) * 4;
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(canvas.scanLine(y) + size_t(r.x()) * 4, picture.constScanLine(y) + size_t(r.x()) * 4, rowBytes);
        for (const DrawnLabel* label : labels) {
            const QRect ink = label->InkRect() & r;
            const QImage& text = label->InkImage();
            const QPoint at = label->PixelRect().topLeft();
            for (int y = ink.top(); y <= ink.bottom(); ++y) {
                auto* dst = reinterpret_cast<uint32_t*>(canvas.scanLine(y)) + ink.x();
                auto* src = reinterpret_cast<const uint32_t*>(text.constScanLine(y - at.y())) + (ink.x() - at.x());
                for (int x = 0; x < ink.width(); ++x) dst[x] = Over(src[x], dst[x]);
            }
        }
        if (!platform::PutPixels(this, canvas, r, r.topLeft())) return false;
        stale |= r;
        if (QWindow* w = window()->windowHandle(); w != watched) {
            if (watched) watched->removeEventFilter(this);
            watched = w;
            w->installEventFilter(this);
        }
        return true;
    }

    // A premultiplied pixel over an opaque one, rounded as Qt's raster painter does.
    static uint32_t Over(uint32_t src, uint32_t dst) {
        const uint32_t a = 255 - qAlpha(src);
        if (a == 0) return src;
        if (a == 255) return dst;
        uint32_t rb = (dst & 0xff00ff) * a;
        rb = ((rb + ((rb >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
        uint32_t ag = ((dst >> 8) & 0xff00ff) * a;
        ag = (ag + ((ag >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
        return src + (ag | rb);
    }

    QImage canvas;
    QRect stale;  // holds what was put past Qt: its copy of these pixels is out of date
    QPointer<QWindow> watched;
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
    view_->sourceStamp.reset();
    view_->update();
}

bool PictureBox::LoadPicture(const QString& path) {
    const std::string file = path.toStdString();
    // The lamp loads its picture again every second: the file it shows, unchanged since, is not
    // decoded again, and an unchanged picture is not repainted.
    const std::optional<platform::FileStamp> stamp = platform::StampOf(file);
    if (stamp && path == view_->source && stamp == view_->sourceStamp) return true;
    QImage img = platform::LoadPicture(file);
    if (img.isNull()) return false;
    view_->sourceStamp = stamp;
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
    view_->Changed(dirty);
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

namespace {
// The smallest rectangle that holds every pixel not fully transparent, in device-independent pixels.
QRect InkOf(const QImage& img) {
    const QImage a = img.convertToFormat(QImage::Format_ARGB32);
    int left = a.width(), right = -1, top = a.height(), bottom = -1;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (qAlpha(row[x]) == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return {};
    const qreal dpr = img.devicePixelRatio();
    return QRectF(QPointF(left, top) / dpr, QPointF(right + 1, bottom + 1) / dpr).toAlignedRect();
}
}  // namespace

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

QRect DrawnLabel::InkRect() const { return ink_.translated(PixelRect().topLeft()); }

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
    // Most of the label's box is empty: moving it changes only the pixels its text covers.
    const QRect before = InkRect();
    inkImage_ = rendered_.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ink_ = InkOf(inkImage_);
    host_.view_->Changed((before | InkRect()) & host_.view_->rect());
}

void DrawnLabel::SetCaption(const QString& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    Render();
}

void DrawnLabel::SetLeft(int twips) {
    const QRect before = InkRect();
    left_ = twips;
    if (InkRect() != before) host_.view_->Changed((before | InkRect()) & host_.view_->rect());
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
