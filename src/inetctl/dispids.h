#pragma once
// Dispatch identifiers of the client controls' properties, methods and events.
// They are the stable names by which the window description and any generic
// caller address a member; keep them in sync with the controls' interfaces.

namespace DispId {
// Properties shared by both controls
constexpr int RemoteHost = 0;
constexpr int RemotePort = 502;
constexpr int State = 503;
constexpr int ProtocolState = 504;
constexpr int Busy = 509;
constexpr int NotificationMode = 510;
constexpr int Logging = 514;
constexpr int Blocking = 515;
constexpr int SleepTime = 516;
constexpr int LocalPort = 517;
constexpr int URL = 1001;
// POP only
constexpr int UserId = 601;
constexpr int Password = 602;
constexpr int TopLines = 2453;
constexpr int DecodeMime = 2480; // ours: readable or source text of a message

// Events shared by both controls
constexpr int OnError = -608;
constexpr int OnTimeout = 551;
constexpr int OnCancel = 552;
constexpr int OnStateChanged = 553;
constexpr int OnProtocolStateChanged = 554;
constexpr int OnBusy = 555;
constexpr int OnLog = 556;
// SMTP events
constexpr int OnSmtpReset = 300;
constexpr int OnVerify = 301;
constexpr int OnExpand = 302;
constexpr int OnHelp = 303;
constexpr int OnSmtpNoop = 304;
constexpr int OnDocInput = 1016;
// POP events
constexpr int OnDocOutput = 1017;
constexpr int OnMessageSize = 2465;
constexpr int OnDelete = 2466;
constexpr int OnPopReset = 2467;
constexpr int OnLast = 2468;
constexpr int OnPopNoop = 2470;
constexpr int OnRefreshMessageCount = 2471;
} // namespace DispId
