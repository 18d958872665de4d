#pragma once

#include <cstdint>
#include <string>

#include "Clock.h"
#include "ProcessingRules.h"
#include "SerialPort.h"
#include "Settings.h"
#include "TransferView.h"

namespace fbx {

// How a transfer ended, for a host that reports it (the command line's exit
// code).
enum class Outcome {
    Running,     // not ended yet
    Finished,    // send: all text went out; receive: the second "%" arrived
    Saved,       // continuous receive ended by the operator, file written
    Incomplete,  // mark-mode receive ended by the operator before its end
    Stopped,     // the operator quit before anything was done or abandoned
    OpenFailed,  // "Port error" or "Communication seting error" at opening
    PortLost,    // the line went away during the transfer
    SaveFailed,  // received text could not be written where it belongs
    SavedElsewhere,  // the target was removed or replaced: the text is whole in another file
    NothingSent,     // send: the program held no text to send
};

// What the host should do after a step.
struct StepResult {
    bool progressed = false;  // something moved: step again soon
    bool watchPort = false;   // nothing moved; new input on the port may change that
    int waitMs = 5;           // the longest the host may wait before the next step
};

// One transfer, as one transfer window runs it: opens and configures the port,
// takes the tape code, mode and processing strings from the settings, runs
// pass by pass when its host calls step(), and learns of the operator's
// buttons through the *Pressed() calls. Hosts call everything from one thread
// and never call step() from inside a view callback.
class TransferEngine {
public:
    TransferEngine(SerialPort& port, Clock& clock, TransferView& view, const Settings& settings,
                   const SerialCodes& codes);
    virtual ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // Runs one pass. Does nothing (and reports no progress) once closed.
    StepResult step();

    virtual void startPressed() = 0;   // the start button (Command1)
    virtual void quitPressed() = 0;    // the quit button (Command2) and Esc
    virtual void resendPressed() {}    // the re-send button (Command3)
    // The window is being closed by the operator. Returns false when the
    // engine keeps it open (a receive whose quit question was cancelled).
    virtual bool closeRequested() = 0;
    // Ends the transfer at once, as the operator's firm quit would: a send
    // stops as "Aband on" does, a receive saves as the quit path does with OK.
    virtual void abandon() = 0;

    bool closed() const { return m_closed; }
    Outcome outcome() const { return m_outcome; }
    bool eiaMode() const { return m_eiaMode; }
    int transferMode() const { return m_transferMode; }
    const RuleTable& rules() const { return m_rules; }

protected:
    // The opening steps shared by both directions: the port, the tape code,
    // the mode, the processing strings, the key hint. False when the port
    // failed (the operator has been told and the window closed).
    bool openCommon();
    // Closes the port and the window (once).
    void closeWindow();
    void startCloseTimer();
    bool closeTimerRunning() const { return m_closeAt >= 0; }
    // The line went away: tells the operator and ends the transfer.
    void reportPortLost();

    virtual StepResult doStep() = 0;
    // The close timer's tick, just before the window closes.
    virtual void onCloseTimer() {}

    Answer ask(const std::string& text, const std::string& title, Buttons buttons, Icon icon,
               bool beep = false, const std::string& detail = {});

    // Puts one byte on the line; SIO_PORTLOST is remembered.
    int put(std::uint8_t byte);

    SerialPort& m_port;
    Clock& m_clock;
    TransferView& m_view;
    Settings m_settings;
    SerialCodes m_codes;
    int m_portNumber = 0;

    bool m_eiaMode = false;
    int m_transferMode = 0;  // 0 "NOMAL", 1 "Data In/Out", 2 "DNC"
    RuleTable m_rules;
    Outcome m_outcome = Outcome::Running;
    bool m_textBoxEnabled = true;
    void setTextBoxEnabled(bool enabled);

private:
    std::int64_t m_closeAt = -1;
    bool m_portOpen = false;
    bool m_closed = false;
    bool m_inStep = false;
};

}  // namespace fbx
