// The trace sender thread: delivers queued command lists to the trace viewer.
#pragma once

#include <windows.h>

#include "trace/TraceCommands.h"

// Starts the sender once (idempotent) and returns the first value of the node-id counter.
int StartTraceSender();
void EnqueueCommandList(TraceCommandList* list);
// Stops the sender; later lines are dropped. Safe to call more than once.
void StopTraceSender();
HWND FindOrStartViewer();
void CloseViewerSocket();
// 1: the list was handled by the log stage and is not sent.
int LogCommandList(const TraceCommandList& list);

// The three 16-bit seed words of node ids.
void GetTraceIdSeeds(unsigned short seeds[3]);

// Lists the sender has finished with (sent, dropped or claimed by the log stage); for tests
// that need to know the queue has drained.
unsigned long TraceSenderHandledCount();
