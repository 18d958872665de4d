#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fbx::machine {

// SIGINT, SIGTERM and SIGHUP ask the machine to stop. They are blocked except
// while a MachineLine wait is in progress, so a stop request ends the current
// wait at once and is never lost between a check and a wait.
void InstallStopSignals();
// The stop signal received, or 0.
int StopSignal();

// The machine's end of the cable: the master side of a pseudo-terminal pair
// whose slave the PC opens as its serial port. The machine keeps no slave
// descriptor, so the master reports a hang-up exactly while the PC does not
// hold the line open: that is how the PC's open and close are seen. One
// thread; every wait is a poll with a timeout.
class MachineLine {
public:
    MachineLine() = default;
    MachineLine(const MachineLine&) = delete;
    MachineLine& operator=(const MachineLine&) = delete;
    ~MachineLine();  // closes the line and removes the link

    // Opens the pair with the slave in raw mode (no echo, no translation of CR
    // or LF, no XON/XOFF of its own, 8 bits) before anyone can open it. With a
    // link path, a symbolic link to the slave is made there; a symbolic link
    // already there is replaced, any other file is an error.
    bool open(const std::string& linkPath, std::string& error);

    const std::string& slavePath() const { return m_slave; }
    bool isOpen() const { return m_master >= 0; }

    // True while the PC holds the slave open.
    bool pcHasLineOpen() const;

    // Waits until the PC opens the line (or has written to it: it may have
    // closed it again already). False on a stop signal or when
    // timeoutSeconds (0: none) passes first. Checks every 20 ms: a master
    // without a slave reports a hang-up at once, so poll cannot wait for this.
    bool waitForPcOpen(double timeoutSeconds);

    // Waits up to timeoutMs for events on the master; only while the PC has
    // the line open (otherwise the hang-up ends every wait at once). With
    // events 0 only a hang-up ends the wait early. Returns the poll revents,
    // 0 on timeout, -1 on a stop signal.
    int wait(short events, int timeoutMs);

    // Sleeps up to timeoutMs without looking at the line. False on a stop signal.
    static bool pause(int timeoutMs);

    // Non-blocking. read: bytes read, 0 when nothing is waiting, -1 when the
    // PC has closed the line and every byte it wrote has been read.
    long read(std::uint8_t* buffer, std::size_t max);
    // write: bytes queued, 0 when the pty's queue is full, -1 when the line is gone.
    long write(const std::uint8_t* data, std::size_t count);
    // One control byte (DC1, DC3); waits up to a second for room in the queue.
    bool writeControl(std::uint8_t code);
    // Bytes the PC has written that wait on the line to be read (TIOCINQ).
    long queued() const;

    // Closes the line at once and removes the link. The PC sees its port lost.
    void close();

private:
    void removeLink();

    int m_master = -1;
    std::string m_slave;
    std::string m_link;
};

}  // namespace fbx::machine
