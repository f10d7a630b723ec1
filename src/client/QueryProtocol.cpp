#include "client/QueryProtocol.h"

namespace {

constexpr uint16_t kQueryCommand = 0;
constexpr uint16_t kChunkCommand = 1;
constexpr uint16_t kResendCommand = 2;
constexpr uint16_t kAnswerTag = 0x8000;
constexpr uint16_t kRefusalTag = 0x8001;
constexpr size_t kShortAnswerSize = 12;
constexpr size_t kLongAnswerSize = 18;

void putU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

uint16_t getU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t getU32(const uint8_t* p)
{
    return static_cast<uint32_t>(getU16(p)) | static_cast<uint32_t>(getU16(p + 2)) << 16;
}

std::vector<uint8_t> request(uint16_t command)
{
    std::vector<uint8_t> out;
    putU16(out, kQueryClientVersion);
    putU16(out, command);
    return out;
}

}  // namespace

std::vector<uint8_t> queryRequest(uint16_t version, const std::string& password)
{
    std::vector<uint8_t> out;
    putU16(out, version);
    putU16(out, kQueryCommand);
    out.insert(out.end(), password.begin(), password.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> chunkRequest()
{
    return request(kChunkCommand);
}

std::vector<uint8_t> resendRequest(uint16_t index)
{
    std::vector<uint8_t> out = request(kResendCommand);
    putU16(out, index);
    return out;
}

QueryReply parseQueryReply(const uint8_t* datagram, size_t size, QueryAnswer& answer)
{
    if (size == 4 && getU16(datagram) == kRefusalTag && getU16(datagram + 2) == 0xFFFF)
        return QueryReply::refused;
    if ((size != kShortAnswerSize && size != kLongAnswerSize) || getU16(datagram) != kAnswerTag)
        return QueryReply::unrelated;
    answer = QueryAnswer();
    answer.chunkCount = getU16(datagram + 2);
    answer.infoBlockId = getU32(datagram + 4) | static_cast<uint64_t>(getU32(datagram + 8)) << 32;
    if (size == kLongAnswerSize) {
        answer.hasGameState = true;
        answer.stateAgeMs = getU32(datagram + 12);
        answer.gameState = getU16(datagram + 16);
    }
    return QueryReply::answer;
}

std::string catalogueIdText(uint64_t infoBlockId)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[infoBlockId & 15]);
        infoBlockId >>= 4;
    } while (infoBlockId != 0);
    return text;
}
