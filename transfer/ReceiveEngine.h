#pragma once

#include <cstdint>
#include <string>

#include "ReceivedFile.h"
#include "TransferEngine.h"

namespace fbx {

// Receives one program that the machine punches out into a file. In
// "NOMAL" everything from the first byte on is kept until the operator quits;
// in the mark modes ("Data In/Out", "DNC") the file holds the program from its
// first "%" through its second "%", whatever the reads brought before the
// first one. Every byte passes through the EIA table when the tape code is
// EIA; NUL bytes are never stored; a processing rule's target follows its
// trigger. Around each hand-over of received text the machine is held with
// XOFF and released with XON; more than 10000 pending characters are
// appended to the file. A hand-over takes what one read brought, or, while
// the line keeps filling whole reads, up to eight of them (4 KB), so that a
// fast line is not stopped and started every 512 bytes.
//
// Nothing received is dropped silently. Pending text is also written once
// its oldest character has waited a second (on a quiet line and on one that
// never pauses alike), so that a crash costs at most about a second of
// punching. A file that cannot be written keeps the text pending
// (the operator is told once and the write is retried at the next hand-over);
// a target removed or replaced meanwhile is noticed, and everything received
// goes on in a new file beside it (the operator is told once, naming both);
// a final save that fails puts what the target lacks into a rescue file and
// says which part is where. The final save is flushed to the disk before the
// outcome is told, and nothing that is not whole in one file ends as
// Finished or Saved.
class ReceiveEngine : public TransferEngine {
public:
    using TransferEngine::TransferEngine;

    // Takes the prepared target (ReceivedFile::prepare) for the reception.
    // False when the window closed at once. The line is read from the first
    // tick of the poll timer, pollDelayMs later; a host that has the
    // program's first bytes already passes 0.
    bool open(ReceivedFile target, std::int64_t pollDelayMs = kPollDelayMs);
    // The same for a target prepared and let go by the caller.
    bool open(const std::string& targetPath);

    void startPressed() override;  // "finishing": the quit path
    void quitPressed() override;
    bool closeRequested() override;
    void abandon() override;

    const std::string& pendingText() const { return m_pendingText; }
    std::int64_t receivedTotal() const { return m_receivedTotal; }
    bool receiveStarted() const { return m_receiveStarted; }
    // Where the text went when the target could not take it (empty if never).
    const std::string& rescuePath() const { return m_rescuePath; }
    // The file the reception went on in when the target was removed or
    // replaced (the target itself otherwise).
    const std::string& receivedPath() const { return m_file.path(); }
    // The reception was saved as incomplete, which ends the saved text with a
    // CR LF of its own (not received from the machine).
    bool lineEndAdded() const { return m_lineEndAdded; }

    static constexpr std::int64_t kPollDelayMs = 500;
    static constexpr size_t kAppendThreshold = 10000;
    static constexpr int kReadsPerHandOver = 8;
    static constexpr std::int64_t kQuietWriteMs = 1000;

protected:
    StepResult doStep() override;
    void onCloseTimer() override;

private:
    void onReceivedCode(std::uint8_t code);
    void onPercentMark();
    void showReceived();
    // Writes the pending text to the file; what could not be written stays
    // pending and the operator is told once.
    void appendPending();
    // Pending text whose oldest character has waited kQuietWriteMs.
    bool pendingDue(std::int64_t now) const;
    // Tells the operator, once, that the reception goes on in another file.
    void tellMoved();
    // The last write of a reception (appended, or as an incomplete one): what
    // the file could not take goes to a rescue file. Then the file is flushed
    // to the disk, and the outcome decided.
    void finalSave(bool incomplete, Outcome whole);
    // Ends the reception as the operator's OK to "Quit receiving?" does.
    void quit(bool askFirst);
    void saveAfterLoss();
    // False once the line is lost. A DC1 the line cannot take now is owed
    // and tried again at each step: the machine stays held until it goes.
    bool putControl(std::uint8_t byte);

    ReceivedFile m_file{""};
    std::string m_receiveChunk;
    std::string m_pendingText;
    std::int64_t m_receivedTotal = 0;
    bool m_receiveStarted = false;
    bool m_dc1Owed = false;
    int m_receiveStop = 0;
    int m_stopRequested = 0;
    std::int64_t m_pollFrom = 0;
    bool m_writeFailureTold = false;
    bool m_movedTold = false;
    std::int64_t m_lastDataMs = 0;
    std::int64_t m_pendingSinceMs = -1;  // when the oldest pending character came
    bool m_lineEndAdded = false;
    bool m_lost = false;
    std::string m_rescuePath;
};

}  // namespace fbx
