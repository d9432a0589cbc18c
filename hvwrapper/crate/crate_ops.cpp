#include "crate_ops.h"

#include <cstring>
#include <string>
#include <vector>

namespace koruhv {

namespace {

int ok(CrateContext &ctx)
{
    ctx.status = 0;
    return CRATE_OK;
}

template <typename T> T *allocCopy(const T *src, size_t n)
{
    T *p = static_cast<T *>(std::calloc(n ? n : 1, sizeof(T)));
    if (p && n)
        std::memcpy(p, src, n * sizeof(T));
    return p;
}

int noMemory(CrateContext &ctx)
{
    return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
}

int configChanged(CrateContext &ctx)
{
    return Crate_SetError(ctx, CRATE_ERR_CONFIG_CHANGED, kTextConfigChanged);
}

// The cell is zero-filled; a name of 10 characters fills it without NUL.
void putNameCell(char *cell, const char *name)
{
    std::memcpy(cell, name, strnlen(name, kParamNameCell));
}

int nameCells(CrateContext &ctx, const CrateSystemInfo &info, const std::vector<uint16_t> &list, char **names)
{
    char *cells = static_cast<char *>(std::calloc(list.size() + 1, kParamNameCell));
    if (!cells)
        return noMemory(ctx);
    for (size_t i = 0; i < list.size(); ++i)
        putNameCell(cells + i * kParamNameCell, info.descriptors[list[i]].name);
    *names = cells;
    return ok(ctx);
}

} // namespace

CrateContext *CrateFamily_Context(const CrateFamily &f, int handle)
{
    if (handle < 0 || handle >= kCrateContexts || !f.contexts[handle].inUse)
        return nullptr;
    return &f.contexts[handle];
}

int Crate_Malformed(CrateContext &ctx)
{
    // A reply that does not read as the answer to its request may belong to
    // another one.
    Crate_MarkOutOfStep(ctx);
    return Crate_SetError(ctx, CRATE_ERR_RECEIVE, kTextMalformedReply);
}

int Crate_Request(CrateContext &ctx, const char *keyword, const RequestBuffer *args, CrateReply *reply,
                  bool raw)
{
    ctx.command = Crate_FindCommand(keyword);
    RequestBuffer req(ctx.order);
    if (!ctx.command || !Crate_BuildHeader(ctx, req) || (args && !req.raw(args->data(), args->size())))
        return noMemory(ctx);
    CrateReply local;
    CrateReply *r = reply ? reply : &local;
    std::free(r->bytes);
    r->bytes = nullptr;
    r->len = 0;
    r->offset = raw ? 1u : 0u;
    return Crate_Transact(ctx, req.data(), req.size(), &r->len, &r->bytes, &r->offset);
}

int CrateOp_GetSysInfo(CrateContext &ctx)
{
    CrateReply reply;
    int rc = Crate_Request(ctx, "GETSYSINFO", nullptr, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    CrateSystemInfo *info = nullptr;
    rc = Crate_ParseSystemInfo(cur, &info);
    if (rc == CRATE_ERR_NO_MEMORY)
        return Crate_SetError(ctx, rc, kTextNoMemorySysInfo);
    if (rc)
        return Crate_Malformed(ctx);
    Crate_SetSystemInfo(ctx, info);
    return ok(ctx);
}

int CrateOp_GetCrateMap(const CrateFamily &f, CrateContext &ctx, uint16_t *slotCount, char **models,
                        char **descriptions, uint32_t **serialNumbers, uint8_t **firmwareMinors,
                        uint8_t **firmwareMajors)
{
    CrateReply reply;
    int rc = Crate_Request(ctx, "GETCRATEMAP", nullptr, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    uint16_t n = cur.u16();
    if (!cur.ok() || cur.remaining() < size_t(n) * 2)
        return Crate_Malformed(ctx);
    std::string modelText, descText;
    std::vector<uint32_t> serials(n, 0);
    std::vector<uint8_t> minors(n, 0), majors(n, 0);
    for (uint16_t i = 0; i < n && cur.ok(); ++i) {
        cur.skip(1); // separator
        std::string_view rest = cur.rest();
        if (!rest.empty() && rest[0] == '\0') {
            cur.skip(1);
            modelText.push_back('\0');
            descText.push_back('\0');
            continue;
        }
        std::string_view model, desc;
        cur.until(':', &model);
        cur.until(':', &desc);
        uint16_t serial = cur.u16();
        cur.expect(':');
        uint16_t fw = cur.u16();
        modelText.append(model).push_back('\0');
        descText.append(desc).push_back('\0');
        serials[i] = serial;
        majors[i] = uint8_t(fw >> 8);
        minors[i] = uint8_t(fw);
    }
    if (f.crateMapSerialTail)
        for (uint16_t i = 0; i < n; ++i)
            serials[i] = cur.u32();
    if (!cur.ok())
        return Crate_Malformed(ctx);
    char *m = allocCopy(modelText.data(), modelText.size());
    char *d = allocCopy(descText.data(), descText.size());
    uint32_t *s = allocCopy(serials.data(), n);
    uint8_t *mi = allocCopy(minors.data(), n);
    uint8_t *ma = allocCopy(majors.data(), n);
    if (!m || !d || !s || !mi || !ma) {
        std::free(m), std::free(d), std::free(s), std::free(mi), std::free(ma);
        return noMemory(ctx);
    }
    *slotCount = n;
    *models = m;
    *descriptions = d;
    *serialNumbers = s;
    *firmwareMinors = mi;
    *firmwareMajors = ma;
    CrateOp_GetSysInfo(ctx); // refresh; its result does not change the map's
    return ok(ctx);
}

int CrateOp_GetSysComp(CrateContext &ctx, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    CrateReply reply;
    int rc = Crate_Request(ctx, "GETSYSCOMP", nullptr, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    uint8_t c = cur.u8();
    cur.expect(':');
    std::vector<uint16_t> crates(c);
    size_t slots = 0;
    for (uint16_t &w : crates) {
        w = cur.u16();
        slots += w & 0xFFu;
    }
    cur.expect(':');
    if (!cur.ok() || cur.remaining() < slots * 4)
        return Crate_Malformed(ctx);
    std::vector<uint32_t> words(slots);
    for (uint32_t &w : words)
        w = cur.u32();
    uint16_t *cw = allocCopy(crates.data(), crates.size());
    uint32_t *sw = allocCopy(words.data(), words.size());
    if (!cw || !sw) {
        std::free(cw), std::free(sw);
        return noMemory(ctx);
    }
    *crateCount = c;
    *crateWords = cw;
    *slotWords = sw;
    return ok(ctx);
}

int CrateOp_TestBdPresence(CrateContext &ctx, uint16_t slot, char *model, char *description,
                           uint16_t *serialNumber, uint8_t *firmwareMinor, uint8_t *firmwareMajor)
{
    int rc = CrateOp_GetSysInfo(ctx);
    if (rc)
        return rc;
    RequestBuffer args(ctx.order);
    args.raw16(slot);
    CrateReply reply;
    rc = Crate_Request(ctx, "TSTBDPRES", &args, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    std::string_view m, d;
    cur.until(':', &m);
    cur.until(':', &d);
    uint16_t serial = cur.u16();
    cur.expect(':');
    uint16_t fw = cur.u16();
    if (!cur.ok())
        return Crate_Malformed(ctx);
    Crate_CopyText(model, KORUHV_BOARD_TEXT_SIZE, m);
    Crate_CopyText(description, KORUHV_BOARD_TEXT_SIZE, d);
    if (serialNumber)
        *serialNumber = serial;
    if (firmwareMajor)
        *firmwareMajor = uint8_t(fw >> 8);
    if (firmwareMinor)
        *firmwareMinor = uint8_t(fw);
    return ok(ctx);
}

int CrateOp_GetBdParam(CrateContext &ctx, uint16_t n, const uint16_t *slots, const char *name, void *values)
{
    RequestBuffer args(ctx.order);
    bool built = args.text(name) && args.colon() && args.put16(n);
    for (uint16_t i = 0; built && i < n; ++i)
        built = args.raw16(slots[i]);
    if (!built)
        return noMemory(ctx);
    CrateReply reply;
    int rc = Crate_Request(ctx, "GETBDPARAM", &args, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    if (cur.remaining() < size_t(n) * 4)
        return Crate_Malformed(ctx);
    const CrateSystemInfo *info = ctx.sysInfo;
    auto *out = static_cast<uint32_t *>(values);
    for (uint16_t i = 0; i < n; ++i) {
        uint32_t raw = cur.u32();
        const CrateBoardEntry *b = info ? info->findBoard(slots[i]) : nullptr;
        const ParamDescriptor *d = b ? info->boardParam(*b, name) : nullptr;
        if (!d)
            return configChanged(ctx);
        if (d->type == PARAM_NUMERIC) {
            float v = Crate_RawToValue(*d, raw);
            std::memcpy(&out[i], &v, 4);
        } else if (d->type != PARAM_CHSTATUS) {
            out[i] = raw;
        }
    }
    return ok(ctx);
}

namespace {

// Raw word of a write; false for a type that has no raw form.
bool rawForWrite(const ParamDescriptor &d, void *value, bool writeBack, uint32_t *raw)
{
    if (d.type == PARAM_NUMERIC) {
        float v;
        std::memcpy(&v, value, 4);
        *raw = Crate_ValueToRaw(d, v);
        if (writeBack) {
            float sent = Crate_RawToValue(d, *raw);
            std::memcpy(value, &sent, 4);
        }
        return true;
    }
    if (d.type == PARAM_ONOFF || d.type == PARAM_BINARY) {
        std::memcpy(raw, value, 4);
        return true;
    }
    return false;
}

} // namespace

int CrateOp_SetBdParam(CrateContext &ctx, uint16_t n, const uint16_t *slots, const char *name, void *value)
{
    for (uint16_t i = 0; i < n; ++i) {
        const CrateSystemInfo *info = ctx.sysInfo;
        const CrateBoardEntry *b = info ? info->findBoard(slots[i]) : nullptr;
        const ParamDescriptor *d = b ? info->boardParam(*b, name) : nullptr;
        if (!d)
            return configChanged(ctx);
        uint32_t raw = 0;
        if (!rawForWrite(*d, value, false, &raw))
            return Crate_SetError(ctx, CRATE_ERR_NO_SET_PROP, kTextNoEncoding);
        RequestBuffer args(ctx.order);
        if (!(args.put16(slots[i]) && args.text(name) && args.colon() && args.raw32(raw)))
            return noMemory(ctx);
        int rc = Crate_Request(ctx, "SETBDPARAM", &args, nullptr);
        if (rc)
            return rc;
    }
    return ok(ctx);
}

int CrateOp_GetChParam(CrateContext &ctx, uint16_t slot, const char *name, uint16_t n,
                       const uint16_t *channels, void *values)
{
    RequestBuffer args(ctx.order);
    bool built = args.put16(slot) && args.text(name) && args.colon() && args.put16(n);
    for (uint16_t i = 0; built && i < n; ++i)
        built = args.raw16(channels[i]);
    if (!built)
        return noMemory(ctx);
    CrateReply reply;
    int rc = Crate_Request(ctx, "GETCHPARAM", &args, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    if (cur.remaining() < size_t(n) * 4)
        return Crate_Malformed(ctx);
    const CrateSystemInfo *info = ctx.sysInfo;
    const CrateBoardEntry *b = info ? info->findBoard(slot) : nullptr;
    if (!b)
        return n ? configChanged(ctx) : ok(ctx);
    ChannelParamLookup lookup(*info, *b, name);
    auto *out = static_cast<uint32_t *>(values);
    for (uint16_t i = 0; i < n; ++i) {
        uint32_t raw = cur.u32();
        const ParamDescriptor *d = lookup.descriptor(channels[i]);
        if (!d)
            return configChanged(ctx);
        if (d->type == PARAM_NUMERIC) {
            float v = Crate_RawToValue(*d, raw);
            std::memcpy(&out[i], &v, 4);
        } else if (d->type != PARAM_BDSTATUS) {
            out[i] = raw;
        }
    }
    return ok(ctx);
}

int CrateOp_SetChParam(const CrateFamily &f, CrateContext &ctx, uint16_t slot, const char *name, uint16_t n,
                       const uint16_t *channels, void *value)
{
    const CrateSystemInfo *info = ctx.sysInfo;
    const CrateBoardEntry *b = info ? info->findBoard(slot) : nullptr;
    if (!b)
        return configChanged(ctx);
    // One request per descriptor, in the order the descriptors first appear:
    // all channels in one request when they share it (the usual case).
    ChannelParamLookup lookup(*info, *b, name);
    std::vector<int> desc; // per channel, only once the channels differ
    int shared = -1;
    for (uint16_t i = 0; i < n; ++i) {
        const int d = lookup.index(channels[i]);
        if (d == -2)
            return Crate_SetError(ctx, CRATE_ERR_OUT_OF_RANGE, kTextOutOfRange);
        if (d < 0)
            return configChanged(ctx);
        if (i == 0)
            shared = d;
        else if (!desc.empty() || d != shared) {
            if (desc.empty())
                desc.assign(i, shared);
            desc.push_back(d);
        }
    }
    auto send = [&](int d, const uint16_t *group, uint16_t count) {
        uint32_t raw = 0;
        if (!rawForWrite(info->descriptors[size_t(d)], value, f.writeBackSetValue, &raw))
            return Crate_SetError(ctx, CRATE_ERR_NO_SET_PROP, kTextNoEncoding);
        RequestBuffer args(ctx.order);
        bool built =
            args.put16(slot) && args.text(name) && args.colon() && args.put32(raw) && args.put16(count);
        for (uint16_t k = 0; built && k < count; ++k)
            built = args.raw16(group[k]);
        return built ? Crate_Request(ctx, "SETCHPARAM", &args, nullptr) : noMemory(ctx);
    };
    if (desc.empty()) {
        if (n == 0)
            return ok(ctx);
        if (int rc = send(shared, channels, n))
            return rc;
        return ok(ctx);
    }
    std::vector<bool> pending(n, true);
    for (uint16_t first = 0; first < n; ++first) {
        if (!pending[first])
            continue;
        std::vector<uint16_t> group;
        for (uint16_t j = first; j < n; ++j)
            if (pending[j] && desc[j] == desc[first]) {
                group.push_back(channels[j]);
                pending[j] = false;
            }
        if (int rc = send(desc[first], group.data(), uint16_t(group.size())))
            return rc;
    }
    return ok(ctx);
}

int CrateOp_GetChName(CrateContext &ctx, uint16_t slot, uint16_t n, const uint16_t *channels,
                      char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    RequestBuffer args(ctx.order);
    bool built = args.put16(slot) && args.put16(n);
    for (uint16_t i = 0; built && i < n; ++i)
        built = args.raw16(channels[i]);
    if (!built)
        return noMemory(ctx);
    CrateReply reply;
    int rc = Crate_Request(ctx, "GETCHNAME", &args, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx.order);
    for (uint16_t i = 0; i < n; ++i) {
        std::string_view name;
        if (!cur.until('\0', &name))
            return Crate_Malformed(ctx);
        Crate_CopyText(names[i], KORUHV_CHANNEL_NAME_SIZE, name);
    }
    return ok(ctx);
}

int CrateOp_SetChName(CrateContext &ctx, uint16_t slot, uint16_t n, const uint16_t *channels,
                      const char *name)
{
    if (!name || std::strlen(name) > 255)
        return Crate_SetError(ctx, CRATE_ERR_OUT_OF_RANGE, kTextOutOfRange);
    RequestBuffer args(ctx.order);
    bool built = args.put16(slot) && args.text(name) && args.colon() && args.put16(n);
    for (uint16_t i = 0; built && i < n; ++i)
        built = args.raw16(channels[i]);
    if (!built)
        return noMemory(ctx);
    int rc = Crate_Request(ctx, "SETCHNAME", &args, nullptr);
    return rc ? rc : ok(ctx);
}

int CrateOp_GetBdParamInfo(CrateContext &ctx, uint16_t slot, char **names)
{
    const CrateSystemInfo *info = ctx.sysInfo;
    const CrateBoardEntry *b = info ? info->findBoard(slot) : nullptr;
    if (!b)
        return Crate_SetError(ctx, CRATE_ERR_SLOT_NOT_PRESENT, kTextSlotNotPresent);
    return nameCells(ctx, *info, b->params, names);
}

int CrateOp_GetChParamInfo(CrateContext &ctx, uint16_t slot, uint16_t channel, char **names, int *count)
{
    const CrateSystemInfo *info = ctx.sysInfo;
    const CrateBoardEntry *b = info ? info->findBoard(slot) : nullptr;
    if (!b)
        return Crate_SetError(ctx, CRATE_ERR_SLOT_NOT_PRESENT, kTextSlotNotPresent);
    if (channel >= b->channels.size())
        return Crate_SetError(ctx, CRATE_ERR_OUT_OF_RANGE, kTextOutOfRange);
    int rc = nameCells(ctx, *info, b->channels[channel].params, names);
    if (rc == 0 && count)
        *count = int(b->channels[channel].params.size());
    return rc;
}

namespace {

int paramProp(CrateContext &ctx, const ParamDescriptor *d, const char *prop, void *result)
{
    if (!d)
        return Crate_SetError(ctx, CRATE_ERR_PARAM_NOT_FOUND, kTextParamNotFound);
    int idx = Crate_ParamPropertyIndex(prop);
    if (idx < 0 || !result)
        return Crate_SetError(ctx, CRATE_ERR_PARAM_PROP_NOT_FOUND, kTextParamPropNotFound);
    Crate_DescriptorProperty(*d, idx, result);
    return ok(ctx);
}

} // namespace

int CrateOp_GetBdParamProp(CrateContext &ctx, uint16_t slot, const char *param, const char *prop,
                           void *result)
{
    const CrateSystemInfo *info = ctx.sysInfo;
    const CrateBoardEntry *b = info ? info->findBoard(slot) : nullptr;
    if (!b)
        return Crate_SetError(ctx, CRATE_ERR_SLOT_NOT_PRESENT, kTextSlotNotPresent);
    return paramProp(ctx, info->boardParam(*b, param), prop, result);
}

int CrateOp_GetChParamProp(CrateContext &ctx, uint16_t slot, uint16_t channel, const char *param,
                           const char *prop, void *result)
{
    const CrateSystemInfo *info = ctx.sysInfo;
    const CrateBoardEntry *b = info ? info->findBoard(slot) : nullptr;
    if (!b)
        return Crate_SetError(ctx, CRATE_ERR_SLOT_NOT_PRESENT, kTextSlotNotPresent);
    if (channel >= b->channels.size())
        return Crate_SetError(ctx, CRATE_ERR_OUT_OF_RANGE, kTextOutOfRange);
    return paramProp(ctx, info->channelParam(*b, channel, param), prop, result);
}

namespace {

int nameList(CrateContext &ctx, int generation, bool exec, uint16_t *count, char **names)
{
    std::string text;
    uint16_t n = 0;
    for (const PropertyRow *r = Crate_PropertyTable(generation); r && r->access != PROP_END; ++r)
        if ((r->access == PROP_EXEC) == exec) {
            text.append(r->name).push_back('\0');
            ++n;
        }
    char *p = static_cast<char *>(std::malloc(text.size() + 1));
    if (!p)
        return noMemory(ctx);
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    *count = n;
    *names = p;
    return ok(ctx);
}

} // namespace

int CrateOp_GetSysPropList(const CrateFamily &f, CrateContext &ctx, uint16_t *count, char **names)
{
    return nameList(ctx, f.generation, false, count, names);
}

int CrateOp_GetExecCommList(const CrateFamily &f, CrateContext &ctx, uint16_t *count, char **names)
{
    return nameList(ctx, f.generation, true, count, names);
}

int CrateOp_ExecComm(const CrateFamily &f, CrateContext &ctx, const char *name)
{
    const PropertyRow *r = Crate_FindProperty(f.generation, name);
    if (!r)
        return Crate_SetError(ctx, CRATE_ERR_EXEC_NOT_FOUND, kTextExecNotFound);
    if (r->access != PROP_EXEC)
        return Crate_SetError(ctx, CRATE_ERR_NO_EXEC, kTextNoExec);
    const char *first = r->index == 1 ? "KILL_1" : r->index == 2 ? "CLRALARM_1" : nullptr;
    const char *second = r->index == 1 ? "KILL_2" : r->index == 2 ? "CLRALARM_2" : nullptr;
    if (!r->available || !first)
        return Crate_SetError(ctx, CRATE_ERR_EXEC_NOT_AVAILABLE, kTextExecNotAvailable);
    // The first half is answered but its status is not looked at.
    int rc = Crate_Request(ctx, first, nullptr, nullptr, true);
    if (rc)
        return rc;
    rc = Crate_Request(ctx, second, nullptr, nullptr);
    return rc ? rc : ok(ctx);
}

int CrateOp_Logout(CrateContext &ctx)
{
    int rc = Crate_Request(ctx, "LOGOUT", nullptr, nullptr);
    return rc ? rc : ok(ctx);
}

} // namespace koruhv
