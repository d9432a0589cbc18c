// Reply lines of the text-protocol modules: the line picked from what the
// link read, then every family's reply, set-answer and own-line rules and
// the number readers.
#include <cstdint>
#include <string>

#include "link.h"
#include "modules/bq71xxe_backend.h"
#include "modules/l2290_backend.h"
#include "modules/l317e_backend.h"
#include "modules/l5026_backend.h"
#include "modules/text_engine.h"
#include "modules/text_wire.h"
#include "modules/trixhv_backend.h"
#include "modules/w9300_backend.h"
#include "modules/zjv_backend.h"
#include "modules/zorn_backend.h"

using namespace koruhv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    static const TextFamily *const families[] = {&kBQ71XXEFamily, &kL2290Family, &kL317EFamily,
                                                 &kL5026Family,   &kL5126Family, &kTrixhvFamily,
                                                 &kW9300Family,   &kZJVFamily,   &kZornFamily};
    if (n == 0 || n > 4096)
        return 0;
    const TextFamily &f = *families[d[0] % (sizeof families / sizeof *families)];
    const std::string buf(reinterpret_cast<const char *>(d + 1), n - 1);
    TextInstance in;
    in.family = &f;
    in.channelCount = 4;
    in.unitChannelCount = 4;
    std::string line;
    const bool got = PickReplyLine(buf.c_str(), line, [&](const char *candidate) {
        return !f.dialect.isOwnReply || f.dialect.isOwnReply(in, candidate);
    });
    if (!got)
        line = buf.c_str();
    char value[1024];
    for (const char *mnemonic : {"VMON", "IMON", "STATUS", "BDNAME", "ON"})
        if (f.dialect.parseReply)
            f.dialect.parseReply(in, mnemonic, line.c_str(), value, sizeof value);
    if (f.dialect.setResult)
        f.dialect.setResult(in, line.c_str());
    ParseDecimal(line.c_str());
    ParseIntText(line.c_str());
    Text_ErrorToken(line.c_str());
    return 0;
}
