#include "core/form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QVBoxLayout>
#include <QWindow>

#include "core/twips.h"

namespace core {

class FormWindow : public QWidget {
public:
    explicit FormWindow(Form* form) : form_(form) {}

    bool eventFilter(QObject* watched, QEvent* e) override {
        // The window system maps and unmaps the window (minimising, switching desktops) without the
        // widget being hidden; the window's exposure says whether any of it can be on the screen.
        if (watched == windowHandle() && e->type() == QEvent::Expose) form_->CheckSeen();
        return false;
    }

protected:
    bool event(QEvent* e) override {
        const bool result = QWidget::event(e);
        switch (e->type()) {
            case QEvent::Show:
                // The window handle is made anew when the window's flags change.
                if (windowHandle() && windowHandle() != watched_) {
                    watched_ = windowHandle();
                    watched_->installEventFilter(this);
                }
                [[fallthrough]];
            case QEvent::Hide:
            case QEvent::WindowStateChange:
                form_->CheckSeen();
                break;
            default:
                break;
        }
        return result;
    }
    void mousePressEvent(QMouseEvent* e) override {
        const int button = e->button() == Qt::LeftButton    ? 1
                           : e->button() == Qt::RightButton ? 2
                           : e->button() == Qt::MiddleButton ? 4
                                                             : 0;
        const Qt::KeyboardModifiers m = e->modifiers();
        const int shift = (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
        if (button) form_->MouseDown(button, shift);
    }
    void closeEvent(QCloseEvent* e) override {
        // The form decides; the window is hidden and destroyed by Unload.
        e->ignore();
        form_->CloseRequested();
    }

private:
    Form* form_;
    QPointer<QWindow> watched_;
};

Form::Form(const QString& caption, int clientWidth, int clientHeight, bool withMenuBar)
    : window_(new FormWindow(this)), client_(new QWidget(window_)) {
    window_->setWindowTitle(caption);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (withMenuBar) {
        menuBar_ = new QMenuBar(window_);
        menuBar_->setNativeMenuBar(false);
        layout->setMenuBar(menuBar_);
    }
    client_->setFixedSize(Px(clientWidth), Px(clientHeight));
    client_->setAutoFillBackground(true);
    layout->addWidget(client_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

Form::~Form() { delete window_; }

void Form::Show() {
    window_->show();
    window_->raise();
}

void Form::Hide() { window_->hide(); }

bool Form::Visible() const { return window_->isVisible(); }

QWidget* Form::hWnd() const { return window_; }

int Form::Left() const { return Tw(window_->x()); }
int Form::Top() const { return Tw(window_->y()); }
void Form::SetLeft(int twips) { window_->move(Px(twips), window_->y()); }
void Form::SetTop(int twips) { window_->move(window_->x(), Px(twips)); }
int Form::Width() const { return Tw(window_->frameGeometry().width()); }
int Form::Height() const { return Tw(window_->frameGeometry().height()); }

QString Form::Caption() const { return window_->windowTitle(); }

void Form::CloseRequested() { Unload(); }

void Form::CheckSeen() {
    const QWindow* w = window_->windowHandle();
    const bool seen = window_->isVisible() && !window_->isMinimized() && w && w->isExposed();
    if (seen == seen_) return;
    seen_ = seen;
    Form_SeenChanged(seen);
}

void Form::Unload() {
    if (unloading_) return;
    unloading_ = true;
    int cancel = 0;
    Form_Unload(cancel);
    window_->hide();
    if (onUnloaded) onUnloaded();
    // Destroyed once control is back in the event loop: the handler that unloaded the form may
    // still be running one of its methods.
    QMetaObject::invokeMethod(qApp, [this] { delete this; }, Qt::QueuedConnection);
}

}  // namespace core
