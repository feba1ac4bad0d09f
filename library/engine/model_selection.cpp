// Choosing the controller model: command set, default decimals, the model
// mask of the command table and the default connect texts.
#include "engine/controller.h"
#include "support/protocol_log.h"
#include "validation/kv_val.h"

namespace zel {

namespace {

struct ModelEntry {
    const char* name;
    uint8_t cmdSet;
    int decimals;
    int modelMask;
    const char* logLine;
};

const ModelEntry kModels[] = {
    {"Default", kCmdSetMulti, 5, 1,
     "[TController::KvCSetControllerType(), tId==srdIdDefault|Ulmeta]\r\n"},
    {"Varne-PC", kCmdSetMulti, 5, 8, "[TController::KvCSetControllerType(), tId==srdIdVarne]\r\n"},
    {"Prusk", kCmdSetSingle, 6, 2,
     "[TController::KvCSetControllerType(), tId==srdIdPrusk|Fistra|Wendalo|Jovek]\r\n"},
    {"Fistra", kCmdSetSingle, 6, 2,
     "[TController::KvCSetControllerType(), tId==srdIdPrusk|Fistra|Wendalo|Jovek]\r\n"},
    {"Wendalo", kCmdSetSingle, 6, 2,
     "[TController::KvCSetControllerType(), tId==srdIdPrusk|Fistra|Wendalo|Jovek]\r\n"},
    {"Jovek", kCmdSetSingle, 6, 2,
     "[TController::KvCSetControllerType(), tId==srdIdPrusk|Fistra|Wendalo|Jovek]\r\n"},
    {"Ulmeta", kCmdSetMulti, 5, 32, "[TController::KvCSetControllerType(), tId==srdIdUlmeta]\r\n"},
};

const char* const kSingleAxisConnect = "0 %d nmode\r\n%d nclear\r\n-1 %d snv %d gne %d gne %d gne\r\n";
const char* const kVarneConnect = "0 mode\r\nclear\r\nm ge ge ge\r\n";
const char* const kDefaultConnect = "0 mode\r\nclear\r\n0 setioport\r\nm ge ge ge\r\n";
const char* const kDefaultConnectReply = "0\r\n0\r\n";

}  // namespace

void TController::KvCSetControllerType(int modelId) {
    KvGProtLog("[TController%d::KvCSetControllerType(), tId=%d]\r\n", nCNumber, modelId, kLogTrace);
    ucCType = static_cast<uint8_t>(modelId);
    // The validator exists once a command table has been seen.
    if (!pCValidator && KvVal::TableFileExists()) pCValidator = std::make_unique<KvVal>();
    // Ids outside the table take the settings of model 0.
    const ModelEntry& model = kModels[(modelId >= 1 && modelId <= 6) ? modelId : 0];
    ucCCmdSet = static_cast<uint8_t>((ucCCmdSet & ~(kCmdSetMulti | kCmdSetSingle)) | model.cmdSet);
    nCDecimals = model.decimals;
    nCModelMask = model.modelMask;
    if (pCValidator) pCValidator->SetModelMask(nCModelMask);
    KvGProtLog(model.logLine, kLogTrace);
    nCPosDecimals = nCDecimals;
    nCLimitDecimals = nCDecimals;
    // The table holds the selected model's commands only: read it again. A
    // table that cannot be opened now leaves the one read before.
    if (pCValidator) {
        if (pCValidator->Load()) bCTableLoaded = true;
        KvGProtLog("[TController::KvCSetControllerType(), using QUBRACOM.DAT]\r\n", kLogTrace);
    }
    KvCBuildGetStatusString();
    KvGProtLog("[TController%d::KvCSetControllerType() done]\r\n", nCNumber, kLogTrace);
}

void TController::KvCSelectModelByName(const std::string& name) {
    sCTypeName = (name == "Varne") ? std::string("Varne-PC") : name;
    int id = kModelDefault;
    for (int k = 1; k <= 6; ++k) {
        if (sCTypeName == kModels[k].name) {
            id = k;
            break;
        }
    }
    KvCSetControllerType(id);
}

void TController::KvCSelectModelByType(int typeBit) {
    int id = kModelDefault;
    for (int k = 1; k <= 6; ++k) {
        if (typeBit == (1 << k)) {
            id = k;
            break;
        }
    }
    sCTypeName = kModels[id].name;
    KvCSetControllerType(id);
}

bool TController::KvCBuildGetStatusString() {
    KvGProtLog("[TController::KvCBuildGetStatusString()]\r\n", kLogTrace);
    if (bCUseDefaultConnect) {
        if (ucCCmdSet & kCmdSetSingle)
            sCConnectString = kSingleAxisConnect;
        else if (ucCType == kModelVarne)
            sCConnectString = kVarneConnect;
        else
            sCConnectString = kDefaultConnect;
        sCConnectReply = kDefaultConnectReply;
    }
    KvGProtLog("[TController::KvCBuildGetStatusString() done]\r\n", kLogTrace);
    return true;
}

std::string TController::KvCExpandAxisNumber(const std::string& templ, int axisIndex) {
    const std::string number = std::to_string(static_cast<long long>(axisIndex) + 1);
    std::string out;
    out.reserve(templ.size() + 8);
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == 'd') {
            out += number;
            ++i;
        } else {
            out += templ[i];
        }
    }
    return out;
}

}  // namespace zel
