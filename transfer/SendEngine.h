#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "PollPort.h"
#include "TransferEngine.h"

namespace fbx {

// Sends one program to the machine, one byte per pass, paced by DC3/DC1 from
// the machine and, with "Brix", by the DSR line. In "NOMAL" the first byte
// goes out at the start press; "Data In/Out" and "DNC" wait for the
// machine's DC1. In "DNC" the operator can hold at the end of a block: the
// engine then sends "G4X0.001" dwell blocks until "Keep on", and with
// "Sending Edit " on, the text not yet sent may be edited meanwhile.
//
// Every byte that goes out is the upper-cased character of the text being
// sent, translated to EIA exactly once when the tape code is EIA; dwell
// blocks likewise.
//
// In "DNC" a hold begins at the next line end: after a CR (and the LF right
// behind it) or after a lone LF. A stop asked while a dwell block is going
// out finishes that block first (still paced by DC3/DC1 and DSR), unless the
// line stays held for a second, so that the machine is never left with half
// a block.
//
// The statistics and the progress never claim more than went out: a run that
// ends before the end of the text shows what was really sent, and "finish"
// only follows the whole text.
//
// A pass is split around its yield: the host's step() first finishes the
// pass in flight (writes the byte it took) and then begins the next one (takes
// its byte and polls the port). Buttons pressed between two steps are thus
// seen by the next pass, after the byte already taken has gone out.
class SendEngine : public TransferEngine {
public:
    using TransferEngine::TransferEngine;

    // Opens the window's state for fileText (the whole program as read from
    // its file): opens the port, applies the processing strings, fills the
    // statistics and the text box. False when the window closed at once.
    bool open(std::string fileText);

    void startPressed() override;
    void quitPressed() override;
    void resendPressed() override;
    bool closeRequested() override;
    void abandon() override;

    // Edits of the text box: removes removeLength characters at the 0-based
    // position and inserts text there. Only text after the next unsent
    // character may change, and only while the text box is open to edits
    // ("Sending Edit " on, before the start or during a hold); anything else
    // is refused with false and changes nothing.
    bool editSendBuffer(std::int64_t position, std::int64_t removeLength, std::string_view text);
    // Replaces everything after the next unsent character in one operation.
    bool replaceUnsent(std::string_view text);
    // The first 0-based position that an edit may touch, or -1 when none may.
    std::int64_t firstEditablePosition() const;

    const std::string& sendBuffer() const { return m_sendBuffer; }
    std::int64_t totalLength() const { return m_totalLength; }
    std::int64_t sendPosition() const { return m_sendPosition; }
    // Characters of the text that have really gone out in the current (or the
    // last) run.
    std::int64_t sentCount() const { return m_sentCount; }
    // What holds the line now, and since when (monotonic ms).
    LineState lineState() const { return m_lineState; }
    std::int64_t lineStateSinceMs() const { return m_lineStateSinceMs; }
    std::int64_t elapsedSeconds() const { return m_elapsedSeconds; }
    const PollState& pollState() const { return m_poll; }
    bool holding() const { return m_dwellActive != 0; }
    bool holdRequested() const { return m_holdRequested != 0; }
    bool running() const { return m_phase == Phase::Sending || m_phase == Phase::Waiting; }
    bool finished() const { return m_transferFinished != 0; }

protected:
    StepResult doStep() override;

private:
    StepResult runPhase();
    enum class Phase { Loaded, Waiting, Sending };

    void resetTransferState();
    void prepareSendBuffer(std::string fileText);
    void fillSendLayout();
    void beginSendLoop();
    void endSendLoop();
    void afterLoop();
    // The first half of a pass (checks, character, poll). False when the
    // loop ended instead.
    bool beginPass(StepResult& result);
    // The second half (write, hold, statistics).
    void finishPass(StepResult& result);
    void secondTick(std::int64_t nowSecond);
    void updateStatistics();
    void endHold();
    void startDwell();
    void lost();
    void nothingToSend();
    // Whether a stop waits for the dwell block in flight to be complete.
    bool finishingDwell() const;
    // Tells the view what holds the line: on a change, and once a second.
    void updateLineState();
    std::uint8_t lineCode(std::uint8_t c) const;

    Phase m_phase = Phase::Loaded;
    std::string m_sendBuffer;
    std::int64_t m_totalLength = 0;
    std::int64_t m_sendPosition = 1;  // 1-based: the next character to send
    std::int64_t m_sentCount = 0;

    int m_transferRunning = 0;
    int m_transferFinished = 0;
    int m_stopRequested = 0;
    int m_holdRequested = 0;
    int m_resumeRequested = 0;
    int m_statsFrozen = 0;
    int m_abortRequested = 0;
    int m_dwellActive = 0;
    int m_dwellIndex = 1;
    PollState m_poll;

    std::int64_t m_elapsedSeconds = 0;
    std::int64_t m_lastStatPosition = 0;
    std::int64_t m_tickSecond = 0;

    LineState m_lineState = LineState::Idle;
    std::int64_t m_lineStateSinceMs = 0;
    std::int64_t m_lineStateShownSeconds = 0;

    bool m_passOpen = false;  // a pass has taken its character and yielded
    std::uint8_t m_code = 0;  // the character taken by the pass in flight
};

}  // namespace fbx
