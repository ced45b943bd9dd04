#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <initializer_list>

// Window-test helpers on the X server the program's windows use ($DISPLAY): input
// synthesised through the XTEST extension, as if a user moved the mouse and pressed
// keys, and a second X client that plays another program. Not part of the program.
// Main thread only.

// Synthesised pointer and keyboard input. Every call has reached the server when it
// returns.
class TXTestInput {
public:
    TXTestInput();
    ~TXTestInput();
    TXTestInput(const TXTestInput&) = delete;
    TXTestInput& operator=(const TXTestInput&) = delete;

    // False when the display or its XTEST extension is missing.
    bool IsOpen() const { return FDisplay != nullptr; }

    void MoveTo(QPoint pos);
    // Button 1 is the left button, 3 the right one.
    void ButtonDown(int button = 1);
    void ButtonUp(int button = 1);
    // Keys by their keysym names ("F5", "Alt_L", "Return").
    void KeyDown(const char* keysym);
    void KeyUp(const char* keysym);
    // Presses the keys in order and releases them in reverse order.
    void Chord(std::initializer_list<const char*> keysyms);

private:
    void Key(const char* keysym, bool down);
    void* FDisplay = nullptr;
};

// Another program: a connection of its own with windows and key grabs.
class TForeignClient {
public:
    TForeignClient();
    ~TForeignClient();
    TForeignClient(const TForeignClient&) = delete;
    TForeignClient& operator=(const TForeignClient&) = delete;

    bool IsOpen() const { return FDisplay != nullptr; }

    // Grabs the key on the root window with "", "Ctrl", "Alt" or "Shift" held (Num Lock
    // and Caps Lock off); false when the server refused it.
    bool GrabKey(const char* keysym, const QString& modifier);
    // Creates and maps a plain top-level window at `rect`; returns its id (0 on failure).
    unsigned long CreateWindow(QRect rect);
    // Gives the keyboard focus to a window of any client.
    void Focus(unsigned long window);
    // Closes the connection: its windows and grabs go with it.
    void Close();

private:
    void* FDisplay = nullptr;
};
