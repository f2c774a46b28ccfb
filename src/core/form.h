#pragma once
// A form: one top-level window with named controls as members and handlers named by control and
// event. A form is created hidden on the first access through its FormSlot, which runs Form_Load
// first; showing it is a separate step. Closing it runs Form_Unload and destroys it; the next access
// through the slot creates it again.
#include <QWidget>
#include <functional>

class QMenuBar;

namespace core {

class FormWindow;

class Form {
public:
    // clientWidth/Height in twips; withMenuBar reserves a menu bar above the client area.
    Form(const QString& caption, int clientWidth, int clientHeight, bool withMenuBar = false);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    virtual void Form_Load() {}
    // cancel is passed through for completeness; no form of the program sets it.
    virtual void Form_Unload(int& cancel) {}
    // button: 1 left, 2 right, 4 middle; shift: 1 Shift, 2 Ctrl, 4 Alt.
    virtual void Form_MouseDown(int button, int shift) {}
    // The window became visible on the screen, or stopped being (hidden, minimised, unmapped).
    virtual void Form_SeenChanged(bool seen) {}

    // The window's place and size on the screen, in twips.
    int Left() const;
    int Top() const;
    void SetLeft(int twips);
    void SetTop(int twips);
    int Width() const;
    int Height() const;

    void Show();  // modeless
    void Hide();
    bool Visible() const;
    // Visible and mapped on the screen: not hidden, not minimised, not on another desktop.
    bool Seen() const { return seen_; }
    // Runs Form_Unload and destroys the form (later, once the current handler has returned).
    void Unload();
    bool Unloading() const { return unloading_; }

    QWidget* hWnd() const;      // the window handle passed to the window system calls
    QWidget* client() const { return client_; }  // the parent of the controls
    QMenuBar* menuBar() const { return menuBar_; }
    QString Caption() const;

    // Set by the form's slot: forgets the form when it unloads.
    std::function<void()> onUnloaded;

private:
    friend class FormWindow;
    void CloseRequested();
    void MouseDown(int button, int shift) { Form_MouseDown(button, shift); }
    void CheckSeen();

    FormWindow* window_;
    QWidget* client_;
    QMenuBar* menuBar_ = nullptr;
    bool unloading_ = false;
    bool seen_ = false;
};

// Holds one form: creates it on first access (running Form_Load), forgets it when it unloads.
template <class T>
class FormSlot {
public:
    T& Get() {
        if (!form_) {
            form_ = new T();
            form_->onUnloaded = [this] { form_ = nullptr; };
            form_->Form_Load();
        }
        return *form_;
    }
    bool Loaded() const { return form_ != nullptr; }
    T* IfLoaded() const { return form_; }
    void Unload() {
        if (form_) form_->Unload();
    }
    // Destroys the form at once without its unload handling (test teardown, process end).
    void Destroy() {
        delete form_;
        form_ = nullptr;
    }

private:
    T* form_ = nullptr;
};

}  // namespace core
