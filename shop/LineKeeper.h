#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "Clock.h"
#include "Crc32.h"
#include "SerialPort.h"
#include "Settings.h"

namespace fbx::shop {

// A machine's line, kept open for the machine's whole life while engines
// come and go on it. The service opens the line once; an engine that opens,
// flushes or closes the port through the keeper changes nothing on the line:
//
//  - open succeeds while the line is open, and close leaves it open;
//  - flush discards nothing: input that waits belongs to the machine's next
//    program (or is the DC1 that asks for an answer), and output that waits
//    is the end of a program that must still reach the machine;
//  - the line parameters are set again only when an engine asks for others.
//
// Bytes the host has taken from the line (to see where a program begins, or
// because no engine was running) are held and given to the next engine
// before anything newer. Each engine reads within a limit, so that a
// program's end and the next program's start never meet in one read of one
// engine: a receive sees nothing past its program's closing mark, and an
// answer that waits for the machine's DC1 sees nothing from the start of a
// program the machine punches instead. What lies past the limit stays held.
//
// What the keeper holds is bounded (kMaxHeld): a machine that sends faster
// than its programs can be stored is held with DC3 (and DTR off with
// "Brix") until the engines have taken half of it, and the line is not read
// meanwhile; an engine's own DC1 (or DTR on) does not end that hold.
//
// Writes never wait on the line: while the line cannot take a byte at once
// (its queue is full, on a UART it holds a few characters already, or a
// paced line is a few characters ahead of its baud rate) a write answers
// SIO_WRITETIMEOUT and the engine tries the byte again when writableInMs()
// says.
class LineKeeper : public SerialPort {
public:
    LineKeeper(std::unique_ptr<SerialPort> line, const Clock& clock);
    ~LineKeeper() override;

    // The host's side.

    // Opens the line with the machine's parameters, DTR and RTS on, no flow
    // control of its own. False when it cannot (lastError says why).
    bool openLine(const SerialCodes& codes);
    // Closes the line and forgets what was held: the host stores it first.
    void closeLine();
    // From now on nothing more is read from the line: engines get what is
    // held, then nothing (or SIO_PORTLOST once the line is lost).
    void stopReading() { m_reading = false; }
    // Hold the machine with DTR off as well as with DC3 ("Brix").
    void holdWithDtr(bool dtr) { m_holdWithDtr = dtr; }
    bool machineHeld() const { return m_machineHeld; }
    bool lineOpen() const { return m_open; }
    // The line reported itself gone; it stays so until closed and opened again.
    bool lost() const { return m_lost; }
    // The descriptor to wait on, or -1.
    int handle() const { return m_line->nativeHandle(); }

    // Takes what waits on the line into the held bytes, at most maxBytes.
    // False once the line is lost.
    bool pull(std::size_t maxBytes = 65536);
    std::string_view held() const { return std::string_view(m_held).substr(m_heldStart); }
    void dropHeld(std::size_t count);
    // When bytes last came off the line, on the clock; -1 before any.
    std::int64_t lastInputMs() const { return m_lastInputMs; }
    // When the held byte at index came off the line; -1 when none is held there.
    std::int64_t arrivalMs(std::size_t index) const;

    // How far the next engine may read.
    enum class Limit {
        None,
        ThroughProgramEnd,   // up to and including the second mark
        BeforeProgramStart,  // until a DC1 has come: not a program's first byte
    };
    // Starts a new engine's reading: its counts begin at zero. marks[b] says
    // whether byte b is a mark (ThroughProgramEnd) or starts a program
    // (BeforeProgramStart).
    void beginEngine(Limit limit, const std::array<bool, 256>& marks);
    bool limitReached() const { return m_limitReached; }

    // What the current engine took from the line and put on it.
    std::int64_t bytesIn() const { return m_bytesIn; }
    std::int64_t bytesOut() const { return m_bytesOut; }
    std::uint32_t crcIn() const { return m_crcIn.value(); }
    std::uint32_t crcOut() const { return m_crcOut.value(); }
    // When the first and the last byte the engine took from the line came
    // (in) or went out (out); -1 before any.
    struct Span {
        std::int64_t firstMs = -1;
        std::int64_t lastMs = -1;
        void note(std::int64_t at) {
            lastMs = at;
            if (firstMs < 0) firstMs = at;
        }
    };
    const Span& spanIn() const { return m_spanIn; }
    const Span& spanOut() const { return m_spanOut; }

    // The engines' side.
    int sio_open(int port) override;
    int sio_close(int port) override;
    int sio_ioctl(int port, int baud, int mode) override;
    int sio_flowctrl(int port, int mode) override;
    int sio_DTR(int port, int mode) override;
    int sio_RTS(int port, int mode) override;
    int sio_flush(int port, int func) override;
    int sio_putch(int port, int term) override;
    int sio_read(int port, char* buf, int len) override;
    int sio_lstatus(int port) override;
    void waitForInput(int timeoutMs) override;
    int writableInMs() const override { return m_line->writableInMs(); }
    int nativeHandle() const override { return m_line->nativeHandle(); }
    std::string lastError() const override;

    // On a UART the line may hold this many characters before a write waits,
    // so that the machine's DC3 stops it within a few characters.
    static constexpr int kQueuedOnLine = 4;
    // The most the keeper holds before it holds the machine.
    static constexpr std::size_t kMaxHeld = 1 << 20;

private:
    // One read of the line into the held bytes: the count, or SIO_PORTLOST.
    int readLine();
    bool lineTakesByte() const;
    // Holds the machine while too much is held, lets it go at half.
    void updateHold();
    int track(int rc);  // remembers SIO_PORTLOST

    std::unique_ptr<SerialPort> m_line;
    const Clock& m_clock;
    bool m_open = false;
    bool m_lost = false;
    int m_baud = -1;
    int m_mode = -1;
    std::string m_error;

    std::string m_held;
    std::size_t m_heldStart = 0;
    std::int64_t m_lastInputMs = -1;
    bool m_reading = true;
    bool m_holdWithDtr = false;
    bool m_machineHeld = false;
    // When the held bytes came: each read's end, counted in bytes read from
    // the line since it was opened, with the time of that read.
    struct Arrival {
        std::int64_t end;
        std::int64_t ms;
    };
    std::deque<Arrival> m_arrivals;
    std::int64_t m_readTotal = 0;

    Limit m_limit = Limit::None;
    std::array<bool, 256> m_marks{};
    int m_marksSeen = 0;
    bool m_dc1Seen = false;
    bool m_limitReached = false;
    std::int64_t m_bytesIn = 0;
    std::int64_t m_bytesOut = 0;
    Crc32 m_crcIn;
    Crc32 m_crcOut;
    Span m_spanIn;
    Span m_spanOut;
};

}  // namespace fbx::shop
