#pragma once

#include <string>

#include "DeviceName.h"
#include "LinePacer.h"
#include "Rfc2217Session.h"
#include "SerialPort.h"

namespace fbx {

// A line of a serial device server reached over TCP.
//
// rfc2217://HOST:PORT: Telnet with COM port control. sio_ioctl sends the line
// settings (SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE, no flow
// control with SET-CONTROL) and checks them against the server's answers;
// sio_DTR and sio_RTS are SET-CONTROL; sio_flush is PURGE-DATA; DSR comes
// from NOTIFY-MODEMSTATE (until the server tells, DSR and CTS read on, as on
// a line without modem lines). Data goes both ways in Telnet BINARY with IAC
// doubled; Telnet commands never reach the reader.
//
// tcp://HOST:PORT: raw bytes. The line settings are the device server's own;
// the modem lines are not reachable (DSR and CTS read on).
//
// Both pace their writes at the configured baud rate and frame (LinePacer):
// the PC cannot see how much the server still holds, so a send never runs
// more than a few characters ahead of the line. A connection that the server
// refuses fails sio_open; one that drops later makes every call answer
// SIO_PORTLOST, as a pulled cable does. lastError() names host, port and
// reason.
//
// Waits: sio_open waits up to kConnectMs for the connection and up to
// kAnswerMs for the COM port option; sio_ioctl up to kAnswerMs for the
// server's answers; sio_close up to kCloseMs for the last bytes to go out.
// Everything else returns at once, or within kPaceWaitUs in a write (at once
// for a host that set no waiting). One thread.
class NetworkSerialPort : public SerialPort {
public:
    explicit NetworkSerialPort(DeviceName device);
    ~NetworkSerialPort() override;

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
    void setWriteWaits(bool waits) override { m_writesWait = waits; }
    int writableInMs() const override { return m_pacer.roomInMs(LinePacer::nowUs()); }
    int nativeHandle() const override { return m_fd; }
    std::string lastError() const override { return m_lastError; }

    static constexpr int kConnectMs = 3000;
    static constexpr int kAnswerMs = 1500;
    // How long a server that answered the line settings may take over the
    // flow control answer; ser2net never gives it on a line without modem
    // lines.
    static constexpr int kControlGraceMs = 150;
    static constexpr int kPaceWaitUs = 2000;
    // The longest sio_close waits for the last bytes to go out and the
    // server to end the connection.
    static constexpr int kCloseMs = 1000;

private:
    bool isOpen(int port) const { return m_fd >= 0 && port == m_port; }
    bool telnet() const { return m_device.kind == DeviceKind::Rfc2217; }
    int lost(const std::string& why);
    // Sends what is pending, without waiting. SIO_OK (maybe with bytes left),
    // or SIO_PORTLOST.
    int sendPending();
    // Reads what the socket holds into m_input (data) and the session (the
    // rest). SIO_OK, or SIO_PORTLOST once the connection is gone.
    int pump();
    // Pumps until done() or timeoutMs pass. False on timeout or loss.
    template <typename Done>
    bool pumpUntil(Done done, int timeoutMs);
    int sendControl(std::uint8_t value);

    DeviceName m_device;
    int m_fd = -1;
    int m_port = 0;
    bool m_eof = false;  // the server closed; m_input may still hold data
    Rfc2217Session m_session;
    std::string m_input;    // data received and not read yet
    std::string m_pending;  // bytes for the server not sent yet
    LinePacer m_pacer;
    bool m_writesWait = true;
    std::string m_lastError;
};

}  // namespace fbx
