#include "engine/LogLines.h"

#include "engine/ApplicationState.h"
#include "platform/MessageReceiver.h"

namespace talmera {

void SendLogLine(CQuorvinAccessRecoveryApp& app, IMessageReceiver* receiver, const std::string& line) {
    app.logLine = line;
    if (receiver) receiver->send(UM_LOG_LINE, 0, 0);
}

}  // namespace talmera
