#pragma once
#include <QString>

// The states both controls report, with their names for messages and test
// output. The engines' inner waits (which reply comes next) stay private to
// them: these are only what a caller may act on.

// Connection state.
enum class ConnState : short {
    Connecting = 1,
    Resolving = 2,
    Resolved = 3,
    Connected = 4,
    Disconnecting = 5,
    Disconnected = 6, // also before the first connection
};
QString toString(ConnState state);

// Protocol state of a POP session inside connection state 4; None outside
// a connected session.
enum class PopProtocolState : short { None = 0, Authorization = 1, Transaction = 2 };
QString toString(PopProtocolState state);

// Transfer state of a document, outgoing or incoming.
enum class DocState : short { Begin = 1, Headers = 2, Data = 3, End = 5 };
