#pragma once

#include <cstdint>
#include <string>

#include "Message.h"

namespace fbx {

// The elements of the transfer window that the engines drive.
enum class Element {
    StartButton,   // Command1: "Send" / "finish" / "Keep on" / "finishing"
    QuitButton,    // Command2: "Quit" / "hold on" / "Aband on"
    ResendButton,  // Command3: "re-send"
    StatusLine,    // Label3
    KeyHint,       // Label4
    Caption0,      // Label5 items 0..5: the statistics captions
    Caption1,
    Caption2,
    Caption3,
    Caption4,
    Caption5,
    WordsPerSecond,  // Label2: "Word/sec", or the received count
    AmountSent,      // Label6: "data amount sent"
    Amount,          // Label7: "data amount"
    Remaining,       // Label8: "Surplus send/sec"
    Elapsed,         // Label9: "Processing time"
    MaxBits,         // Label10: "Max sending bit"
    TextBox,         // RichTextBox1
    ProgressBar,     // ProgressBar1
};

// What holds a send's line, for the operator's line indicator.
enum class LineState {
    Idle,           // no send is running: the indicator is off
    Free,           // bytes may go out
    HeldByMachine,  // the machine sent DC3 and has not released the line with DC1
    WaitingForDsr,  // handshake "Brix" and the DSR line is off
    WaitingForDc1,  // "Data In/Out" or "DNC": the machine's start signal is awaited
};

// How an engine shows itself and asks the operator. The window program and
// the command-line driver implement it; tests record it. Every call comes from
// the thread that drives the engine.
class TransferView {
public:
    virtual ~TransferView() = default;

    virtual void setText(Element element, const std::string& text) = 0;
    virtual void setVisible(Element element, bool visible) = 0;
    virtual void setEnabled(Element element, bool enabled) = 0;
    virtual void setProgress(std::int64_t maximum, std::int64_t value) = 0;

    // The text box's whole content (the program as it will be sent).
    virtual void loadText(const std::string& text) = 0;
    // Select and colour the text box's line holding this 0-based position.
    virtual void highlightHeldLine(std::int64_t position) = 0;
    // Clear the received-data display and print this tail of the received
    // text there; an empty tail only clears it.
    virtual void showReceived(const std::string& tail) = 0;

    // A message box; returns the operator's answer.
    virtual Answer ask(const Message& message) = 0;
    // The transfer window's own open-file dialog (a second choice of the
    // program to send); empty when cancelled.
    virtual std::string chooseFile(const std::string& title, const std::string& filter) = 0;

    // What holds the line, and since how many whole seconds. Called when the
    // state changes and once a second while a send runs.
    virtual void showLineState(LineState /*state*/, std::int64_t /*seconds*/) {}

    // A transfer begins and ends: the host keeps the screen saver off between.
    virtual void transferActive(bool /*active*/) {}

    // The engine has closed the port: the window goes.
    virtual void closeWindow() = 0;
};

}  // namespace fbx
