#pragma once

// The transfer window's own texts, exactly as the operator sees them.
namespace fbx::texts {

inline constexpr const char* kKeyHint = " Down ESC\r  TO EXIT";

// Status line
inline constexpr const char* kRead = "Read";
inline constexpr const char* kReady = "Ready";
inline constexpr const char* kSendStart = "   Send Start>>   ";
inline constexpr const char* kWaitingMachine = "Waiting Machine Receive Singnal";
inline constexpr const char* kSendResumed = "Send start>>";
inline constexpr const char* kHoldOn = "Hold on";
inline constexpr const char* kFinish = "finish";
inline constexpr const char* kReceiveWaiting = "Receive waitting";
inline constexpr const char* kReceiving = "Receiving data>>>";
inline constexpr const char* kPreparing = "Data tranferring pls waiting>";
// Our own: a start press with no program text to send.
inline constexpr const char* kNothingSent = "Nothing sent: no program text";

// Buttons
inline constexpr const char* kSend = "Send";
inline constexpr const char* kKeepOn = "Keep on";
inline constexpr const char* kFinishing = "finishing";
inline constexpr const char* kQuit = "Quit";
inline constexpr const char* kHoldOnButton = "hold on";
inline constexpr const char* kAbandOn = "Aband on";
inline constexpr const char* kResend = "re-send";

// Statistics captions, Label5 items 0..5
inline constexpr const char* kWordPerSec = "Word/sec";
inline constexpr const char* kAmountSent = "data amount sent";
inline constexpr const char* kAmount = "data amount";
inline constexpr const char* kSurplus = "Surplus send/sec";
inline constexpr const char* kProcessingTime = "Processing time";
inline constexpr const char* kMaxBit = "Max sending bit";
inline constexpr const char* kDataReceived = "Data received";

inline constexpr const char* kZeroTime = "0 : 0 : 0";

// Message boxes
inline constexpr const char* kSendDataError = "Send data error";
inline constexpr const char* kEmptyFile = "Data empty opennev file?";
inline constexpr const char* kEmptyPrepared = "Data empty open nevtile?";
inline constexpr const char* kDuplicateRule = "取代字有重覆是否要重新定義?";
inline constexpr const char* kReplaceError = "Replace error";
inline constexpr const char* kQuitReceiving = "Quit receiving?";
inline constexpr const char* kLever = "Lever";
inline constexpr const char* kReceiveFinish = "Data receive finish!!!?";
inline constexpr const char* kReceiveOk = "Receive OK ";
inline constexpr const char* kReceiveIncomplete = "Receive incomplete";
inline constexpr const char* kError = "error";
inline constexpr const char* kDataSaving = "Data saving";
inline constexpr const char* kReceiveSave = "Receive Save";
inline constexpr const char* kRewrite = "re-write or not ?";
inline constexpr const char* kSaveAs = "Save as";

// The dwell block sent while a DNC transfer is held.
inline constexpr const char* kDwellBlock = "G4X0.001\r\n";

}  // namespace fbx::texts
