#pragma once
// The controls forms are built from: thin wrappers over Qt widgets that keep the names and the
// behaviour the program's handlers are written against (Text, Value, Caption, Click, Change).
// Hidden controls are real widgets of their form that are never shown: they hold state or
// serve as named command handlers.
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QLineEdit;
class QCheckBox;
class QPushButton;
class QAction;
class QMenu;

namespace core {

struct Place {
    int left, top, width, height;  // twips
};

enum class Shown { Visible, Hidden };

class TextBox {
public:
    TextBox(QWidget* parent, const QString& text, Place place, Shown shown = Shown::Visible);
    QString Text() const;
    void SetText(const QString& text);
    // Each character shows as c; a null c shows the text itself.
    void SetPasswordChar(QChar c);
    QLineEdit* widget() const { return edit_; }
    // Raised at every change of the text, typed or set; may nest.
    std::function<void()> Change;

private:
    QLineEdit* edit_;
    QString text_;  // the widget's text, kept at every change: timers read their fields many times a second
};

class CheckBox {
public:
    // value: 0 clear, 1 ticked, 2 greyed
    CheckBox(QWidget* parent, const QString& caption, Place place, int value = 0,
             Shown shown = Shown::Visible);
    int Value() const;
    void SetValue(int value);
    QCheckBox* widget() const { return box_; }

private:
    QCheckBox* box_;
};

class Label {
public:
    Label(QWidget* parent, const QString& caption, Place place, Shown shown = Shown::Visible);
    QString Caption() const;
    void SetCaption(const QString& caption);
    int Left() const { return left_; }  // twips, kept exactly so that steps of 20 add up
    void SetLeft(int twips);
    int Top() const { return top_; }
    QLabel* widget() const { return label_; }
    std::function<void()> DblClick;

private:
    QLabel* label_;
    int left_, top_;
};

class CommandButton {
public:
    CommandButton(QWidget* parent, const QString& caption, Place place, Shown shown = Shown::Visible);
    QString Caption() const;
    void SetDefault(bool on);  // Enter presses it
    void SetCancel(bool on);   // Esc presses it
    QPushButton* widget() const { return button_; }
    // The click handler; may also be called as a plain procedure through Press().
    std::function<void()> Click;
    void Press() {
        if (Click) Click();
    }

private:
    QPushButton* button_;
};

// A picture with 1-pixel lines drawn over it. Drawing accumulates until Refresh; Refresh repaints
// only the pixels that changed since the last one, so a clock that ticks once a second costs little.
class PictureView;
class PictureBox {
public:
    PictureBox(QWidget* parent, Place place, const QImage& picture = {}, Shown shown = Shown::Visible);
    const QImage& Picture() const;
    void SetPicture(const QImage& picture);
    // Loads a picture file; a missing or unreadable file keeps the current picture (false).
    bool LoadPicture(const QString& path);
    QString PictureSource() const;  // the file last loaded, empty for a stored picture
    void Cls();
    void Line(int x1, int y1, int x2, int y2, QColor colour);
    void Refresh();
    QWidget* widget() const;
    // What the box shows now: the picture with the lines of the last Refresh.
    QImage Snapshot() const;
    std::function<void()> Click;

    struct Stroke {
        int x1, y1, x2, y2;
        QRgb colour;
        bool operator==(const Stroke&) const = default;
    };
    const std::vector<Stroke>& Strokes() const;  // the lines of the last Refresh

private:
    friend class DrawnLabel;
    PictureView* view_;
};

// A label drawn by the picture box that holds it rather than a widget of its own: moving it repaints
// only the pixels it covers, so a ticker that moves fifty times a second stays cheap.
class DrawnLabel {
public:
    DrawnLabel(PictureBox& host, const QString& caption, Place place, QColor colour);
    ~DrawnLabel();
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    int Left() const { return left_; }  // twips, kept exactly so that steps of 20 add up
    void SetLeft(int twips);
    int Top() const { return top_; }
    // Where it is drawn, in the host's pixels, and what.
    QRect PixelRect() const;
    const QPixmap& Rendered() const { return rendered_; }
    // The part of PixelRect its text covers.
    QRect InkRect() const;
    const QImage& InkImage() const { return inkImage_; }  // Rendered, premultiplied ARGB

private:
    void Render();
    PictureBox& host_;
    QString caption_;
    int left_, top_, width_, height_;
    QColor colour_;
    QPixmap rendered_;
    QImage inkImage_;
    QRect ink_;  // within rendered_
};

class MenuItem {
public:
    MenuItem(QMenu* menu, const QString& caption);  // "-" makes a separator
    QAction* action() const { return action_; }
    QString Caption() const;
    std::function<void()> Click;

private:
    QAction* action_;
};

}  // namespace core
