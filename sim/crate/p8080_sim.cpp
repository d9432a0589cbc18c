// The rack simulator: its model state (modules, ramp, derived front panel),
// its start and stop, and the knobs its tests turn.
#include "crate/p8080_sim_impl.h"

namespace korusim {

P8080Sim::Impl::Impl(P8080Model model, std::string addr, uint16_t p, P8080SimOptions o)
    : address(std::move(addr)), port(p), opt(std::move(o))
{
    if (model.modules.size() > 150)
        model.modules.resize(150);
    for (auto &b : model.modules)
        modules.push_back(makeModule(std::move(b)));
    sysDesc = std::move(model.systemParams);
    for (auto &s : sysDesc) {
        sysRaw.push_back(s.desc.initialRaw);
        sysText.push_back(s.text);
    }
    ctlModel = model.controllerModel;
    ctlDescription = model.controllerDescription;
    ctlSerial = model.controllerSerial;
    panelFollows = model.panelFollowsChannels;
    nextSession = opt.firstSessionId;
    refreshPanel();
}

P8080Sim::Impl::~Impl()
{
    if (key)
        EVP_PKEY_free(key);
}

int P8080Sim::Impl::sysIndex(const std::string &name) const
{
    for (size_t i = 0; i < sysDesc.size(); ++i)
        if (sysDesc[i].desc.name == name)
            return int(i);
    return -1;
}

void P8080Sim::Impl::markSubs(int kind, int board, int ch, int idx)
{
    for (auto &s : subs)
        if (s.s.kind == kind && (kind == 2 || s.s.board == board) && (kind != 0 || s.s.channel == ch) &&
            s.index == idx)
            s.dirty = true;
    wake = true;
    cv.notify_all();
}

void P8080Sim::Impl::setChRaw(unsigned b, unsigned c, int idx, uint32_t raw)
{
    Chan &ch = modules[b].ch[c];
    if (ch.raw[idx] == raw)
        return;
    ch.raw[idx] = raw;
    markSubs(0, int(b), int(c), idx);
    refreshPanel();
}

void P8080Sim::Impl::setSysRaw(int i, uint32_t raw)
{
    if (sysRaw[i] == raw)
        return;
    sysRaw[i] = raw;
    markSubs(2, -1, -1, i);
    const std::string &name = sysDesc[i].desc.name;
    if (name == "ACDCPwr") {
        int iSt = sysIndex("ACDCStatus");
        if (iSt >= 0)
            setSysRaw(iSt, (sysRaw[iSt] & ~1u) | (raw ? 1u : 0u));
    } else if (name == "Temp") {
        refreshPanel();
    }
}

void P8080Sim::Impl::refreshPanel()
{
    int iPanel = sysIndex("FrontPanOut");
    if (!panelFollows || iPanel < 0)
        return;
    uint32_t word = 0;
    for (const Module &md : modules) {
        if (!md.board)
            continue;
        for (unsigned c = 0; c < md.ch.size(); ++c) {
            const auto &ps = md.board->paramsOf(c);
            int iSt = paramIndex(ps, "Status"), iPw = paramIndex(ps, "Pw");
            if (iSt >= 0)
                word |= rackPanelBits(md.ch[c].raw[iSt]);
            else if (iPw >= 0 && md.ch[c].raw[iPw])
                word |= kPanelChannelOn;
        }
    }
    int iTemp = sysIndex("Temp");
    if (iTemp >= 0) {
        const CrateParam &t = sysDesc[iTemp].desc;
        if (rawToValue(t, sysRaw[iTemp]) > kRackOverTemperature)
            word |= kRackPanelOverTemp;
    }
    if (sysRaw[iPanel] != word) {
        sysRaw[iPanel] = word;
        markSubs(2, -1, -1, iPanel);
    }
}

void P8080Sim::Impl::rampStep(double dt)
{
    rampSlots(modules, dt, [this](unsigned s, unsigned c, int i, uint32_t raw) { setChRaw(s, c, i, raw); });
}

void P8080Sim::Impl::forEachChannel(const char *param, uint32_t raw)
{
    for (unsigned b = 0; b < modules.size(); ++b) {
        if (!modules[b].board)
            continue;
        for (unsigned c = 0; c < modules[b].ch.size(); ++c) {
            int i = paramIndex(modules[b].board->paramsOf(c), param);
            if (i >= 0)
                setChRaw(b, c, i, raw);
        }
    }
}

// --------------------------------------------------------------- public

P8080Sim::P8080Sim(P8080Model model, std::string bindAddress, uint16_t port, P8080SimOptions options)
    : d(std::make_unique<Impl>(std::move(model), std::move(bindAddress), port, std::move(options)))
{
    attachCore(d.get());
}

P8080Sim::~P8080Sim()
{
    stop();
    std::lock_guard lk(d->m);
    d->wire.write("P8080 rack", d->errors);
}

const std::string &P8080Sim::builtinPublicKeyPem()
{
    static const std::string pem = kP8080PublicKeyPem;
    return pem;
}

std::string P8080Sim::publicKeyPem() const
{
    if (d->opt.privateKeyPem.empty())
        return builtinPublicKeyPem();
    EVP_PKEY *k = readPrivateKey(d->opt.privateKeyPem);
    if (!k)
        return {};
    std::string out;
    BIO *bio = BIO_new(BIO_s_mem());
    if (bio && PEM_write_bio_PUBKEY(bio, k) > 0) {
        char *p = nullptr;
        long n = BIO_get_mem_data(bio, &p);
        out.assign(p, size_t(n));
    }
    if (bio)
        BIO_free(bio);
    EVP_PKEY_free(k);
    return out;
}

bool P8080Sim::start()
{
    if (d->started)
        return true;
    if (!isLoopback(d->address) || d->address == "127.0.0.1") {
        d->errorText = "the rack simulator serves 127.0.0.2 and up only, not " + d->address;
        return false;
    }
    if (!d->key)
        d->key = readPrivateKey(d->opt.privateKeyPem.empty() ? std::string(kP8080PrivateKeyPem)
                                                             : d->opt.privateKeyPem);
    if (!d->key) {
        d->errorText = "the rack's private key is not readable";
        return false;
    }
    d->listenFd = d->listenOn(d->port);
    if (d->listenFd < 0)
        return false;
    d->evPort = d->opt.eventPort;
    d->evListenFd = d->listenOn(d->evPort);
    if (d->evListenFd < 0) {
        ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    startServing(*d);
    return true;
}

void P8080Sim::stop()
{
    if (!stopServing(*d))
        return;
    closeSocket(d->evListenFd);
    std::lock_guard lk(d->m);
    for (auto &e : d->evconns)
        if (e.fd >= 0)
            ::close(e.fd);
    d->evconns.clear();
    d->pending.clear();
    d->sessions.clear();
    d->subs.clear();
    d->started = false;
}

uint16_t P8080Sim::port() const
{
    return d->port;
}
uint16_t P8080Sim::eventPort() const
{
    return d->evPort;
}
const std::string &P8080Sim::address() const
{
    return d->address;
}
std::string P8080Sim::errorText() const
{
    std::lock_guard lk(d->m);
    return d->errorText;
}

void P8080Sim::setCredentials(const std::string &user, const std::string &password)
{
    std::lock_guard lk(d->m);
    d->opt.user = user;
    d->opt.password = password;
}

bool P8080Sim::setChannelRaw(unsigned board, unsigned channel, const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    std::optional<int> i = channelIndexToSet(d->modules, board, channel, param, raw);
    if (!i)
        return false;
    d->setChRaw(board, channel, *i, raw);
    return true;
}

bool P8080Sim::setChannelValue(unsigned board, unsigned channel, const std::string &param, double value)
{
    std::optional<uint32_t> raw;
    {
        std::lock_guard lk(d->m);
        raw = channelRawFor(d->modules, board, channel, param, value);
    }
    return raw && setChannelRaw(board, channel, param, *raw);
}

bool P8080Sim::setBoardRaw(unsigned board, const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    auto *md = d->module(board);
    if (!md)
        return false;
    int i = paramIndex(md->board->boardParams, param);
    if (i < 0)
        return false;
    if (md->bdRaw[i] != raw) {
        md->bdRaw[i] = raw;
        d->markSubs(1, int(board), -1, i);
    }
    return true;
}

bool P8080Sim::setChannelName(unsigned board, unsigned channel, const std::string &name)
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(board, channel);
    if (!c)
        return false;
    if (c->name != name) {
        c->name = name;
        d->markSubs(0, int(board), int(channel), int(kNameSlot));
    }
    return true;
}

bool P8080Sim::setSystemRaw(const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0 || d->sysDesc[i].desc.type == kSysText)
        return false;
    d->setSysRaw(i, raw);
    return true;
}

bool P8080Sim::setSystemText(const std::string &param, const std::string &text)
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0 || d->sysDesc[i].desc.type != kSysText)
        return false;
    if (d->sysText[i] != text) {
        d->sysText[i] = text;
        d->markSubs(2, -1, -1, i);
    }
    return true;
}

std::optional<uint32_t> P8080Sim::channelRaw(unsigned board, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    return channelRawOf(d->modules, board, channel, param);
}

std::optional<double> P8080Sim::channelValue(unsigned board, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    return channelValueOf(d->modules, board, channel, param);
}

std::optional<uint32_t> P8080Sim::boardRaw(unsigned board, const std::string &param) const
{
    std::lock_guard lk(d->m);
    return boardRawOf(d->modules, board, param);
}

std::optional<std::string> P8080Sim::channelName(unsigned board, unsigned channel) const
{
    std::lock_guard lk(d->m);
    return channelNameOf(d->modules, board, channel);
}

std::optional<uint32_t> P8080Sim::systemRaw(const std::string &param) const
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0)
        return std::nullopt;
    return d->sysRaw[i];
}

std::optional<std::string> P8080Sim::systemText(const std::string &param) const
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0)
        return std::nullopt;
    return d->sysText[i];
}

void P8080Sim::insertModule(unsigned board, CrateBoard module)
{
    std::lock_guard lk(d->m);
    if (board >= 150)
        return;
    if (board >= d->modules.size())
        d->modules.resize(board + 1);
    std::erase_if(d->subs, [&](const Impl::Sub &s) { return s.s.board == int(board) && s.s.kind <= 1; });
    d->modules[board] = Impl::makeModule(std::move(module));
    d->refreshPanel();
    d->rackMessage(1, board);
}

void P8080Sim::removeModule(unsigned board)
{
    std::lock_guard lk(d->m);
    if (board >= d->modules.size())
        return;
    std::erase_if(d->subs, [&](const Impl::Sub &s) { return s.s.board == int(board) && s.s.kind <= 1; });
    d->modules[board] = Impl::Module{};
    d->refreshPanel();
    d->rackMessage(1, board);
}

void P8080Sim::sendTransparentMode(uint32_t word)
{
    std::lock_guard lk(d->m);
    d->rackMessage(2, word);
}

void P8080Sim::sendKeepAlive(uint32_t word)
{
    std::lock_guard lk(d->m);
    d->rackMessage(0, word);
}

void P8080Sim::sendEventBatch(const std::vector<P8080EventItem> &items)
{
    std::lock_guard lk(d->m);
    d->queueRaw(Impl::batchPayload(items, false));
}

void P8080Sim::sendRawEvent(const std::string &payload)
{
    std::lock_guard lk(d->m);
    d->queueRaw(payload);
}

void P8080Sim::closeEventConnections()
{
    std::lock_guard lk(d->m);
    for (auto &e : d->evconns)
        e.dead = true;
    d->wake = true;
    d->cv.notify_all();
}

int P8080Sim::eventConnectionCount() const
{
    std::lock_guard lk(d->m);
    return int(
        std::count_if(d->evconns.begin(), d->evconns.end(), [](auto &e) { return e.fd >= 0 && !e.dead; }));
}

bool P8080Sim::waitEventConnection(std::chrono::milliseconds timeout) const
{
    std::unique_lock lk(d->m);
    return d->linkCv.wait_for(lk, timeout, [&] {
        return std::any_of(d->evconns.begin(), d->evconns.end(),
                           [](auto &e) { return e.fd >= 0 && !e.dead; });
    });
}

std::vector<P8080Subscription> P8080Sim::subscriptions() const
{
    std::lock_guard lk(d->m);
    std::vector<P8080Subscription> out;
    for (auto &s : d->subs)
        out.push_back(s.s);
    return out;
}

int P8080Sim::keepAliveAnswers() const
{
    std::lock_guard lk(d->m);
    return d->keepAliveAnswers;
}

void P8080Sim::tickNow()
{
    std::lock_guard lk(d->m);
    d->rampStep(std::chrono::duration<double>(d->opt.tickPeriod).count());
    d->wake = true;
    d->cv.notify_all();
}

std::string P8080Sim::lastPassword() const
{
    std::lock_guard lk(d->m);
    return d->lastPassword;
}

int P8080Sim::activeSessions() const
{
    std::lock_guard lk(d->m);
    return int(d->sessions.size());
}

} // namespace korusim
