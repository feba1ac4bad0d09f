// Reading all positions and setting the origin.
#include "engine/controller.h"

#include "support/protocol_log.h"

namespace zel {

bool TController::KvCGetPos() {
    KvGProtLog("[TController::KvCGetPos()]\r\n", kLogTrace);
    if (!KvCExecuteCommand("p", 0x01020086u)) return false;
    if (!KvCScanReply(25, -1)) return false;
    KvGProtLog("[TController::KvCGetPos done]\r\n", kLogTrace);
    return true;
}

bool TController::KvCSetOrigin(int axisIndex) {
    KvGProtLog("[TController::KvCSetOrigin(%d)]\r\n", axisIndex, kLogTrace);
    std::string command;
    if (SingleAxisCommands()) {
        if (axisIndex < 0) {
            for (int a = 0; a < AxesCount(); ++a) {
                if (a > 0) command += ' ';
                command += "0 " + std::to_string(a + 1) + " setnpos";
            }
        } else {
            command = "0 " + std::to_string(static_cast<long long>(axisIndex) + 1) + " setnpos";
        }
    } else {
        for (int a = 0; a < AxesCount(); ++a) command += "0 ";
        command += "setpos";
    }
    if (!KvCExecuteCommand(command, 0x00020086u)) return false;
    KvGProtLog("[TController::KvCSetOrigin() done]\r\n", kLogTrace);
    return true;
}

}  // namespace zel
