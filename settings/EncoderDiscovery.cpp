#include "EncoderDiscovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "EncoderChatter.h"

namespace {

// Bump when the trial rules or the format tables change: older caches are then rebuilt.
constexpr int kCacheVersion = 2;

constexpr EncoderCategory kCategories[] = {EncoderCategory::AviVideo, EncoderCategory::AviAudio,
                                           EncoderCategory::WavAudio};

// Sample rates tried for every audio encoder, in list order.
constexpr int kRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
constexpr int kChannels[] = {2, 1};

// How an encoder is told its bit rate, and which bit rates (kb/s, descending) to offer at a
// sample rate. Codecs not listed are offered at their own default bit rate only.
struct BitRateRule {
    const char* factory;
    const char* property;
    int unit;  // property value per kb/s: 1 (kb/s) or 1000 (bit/s)
    PropertyList extra;
};

const BitRateRule kBitRateRules[] = {
    // lame takes a bit rate only in its CBR bit-rate mode.
    {"lamemp3enc", "bitrate", 1, {{"target", "bitrate"}, {"cbr", "true"}}},
    {"twolamemp2enc", "bitrate", 1, {}},
    {"avenc_mp2", "bitrate", 1000, {}},
    {"avenc_mp2fixed", "bitrate", 1000, {}},
    {"avenc_ac3", "bitrate", 1000, {}},
    {"avenc_ac3_fixed", "bitrate", 1000, {}},
    {"avenc_eac3", "bitrate", 1000, {}},
    {"avenc_aac", "bitrate", 1000, {}},
    {"voaacenc", "bitrate", 1000, {}},
    {"avenc_wmav1", "bitrate", 1000, {}},
    {"avenc_wmav2", "bitrate", 1000, {}},
};

const BitRateRule* FindRule(const std::string& factory) {
    for (const BitRateRule& rule : kBitRateRules)
        if (factory == rule.factory) return &rule;
    return nullptr;
}

std::vector<int> BitRatesFor(const std::string& factory, int rate) {
    const bool mpeg1Rate = rate >= 32000;
    const bool mpeg25Rate = rate <= 12000;
    if (factory == "lamemp3enc") {
        if (mpeg1Rate) return {320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 40, 32};
        if (mpeg25Rate) return {64, 56, 48, 40, 32, 24, 16, 8};
        return {160, 144, 128, 112, 96, 80, 64, 56, 48, 40, 32, 24, 16, 8};
    }
    if (factory == "twolamemp2enc" || factory == "avenc_mp2" || factory == "avenc_mp2fixed") {
        if (mpeg1Rate) return {384, 320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 32};
        return {160, 144, 128, 112, 96, 80, 64, 56, 48, 40, 32, 24, 16, 8};
    }
    if (factory == "avenc_ac3" || factory == "avenc_ac3_fixed" || factory == "avenc_eac3")
        return {640, 576, 512, 448, 384, 320, 256, 224, 192, 160, 128, 96};
    if (factory == "avenc_aac" || factory == "voaacenc") return {320, 256, 192, 160, 128, 96, 64};
    if (factory == "avenc_wmav1" || factory == "avenc_wmav2")
        return {192, 160, 128, 96, 64, 48, 32};
    return {};
}

// Some codecs quietly lower a bit rate they cannot reach: such an entry would promise a rate
// the file does not have. No codec is offered above 16-bit PCM; AAC carries at most 6 bits per
// sample and channel.
bool PlausibleBitRate(const std::string& factory, int kbps, int rate, int channels) {
    if (kbps <= 0) return true;
    const long bits = static_cast<long>(kbps) * 1000;
    if (bits > 16L * rate * channels) return false;
    if ((factory == "avenc_aac" || factory == "voaacenc") && bits > 6L * rate * channels)
        return false;
    return true;
}

bool CapsAllow(const GstCaps* templ, const char* media, int rate, int channels) {
    GstCapsPtr wanted(gst_caps_new_simple(media, "rate", G_TYPE_INT, rate, "channels", G_TYPE_INT,
                                          channels, nullptr));
    return gst_caps_can_intersect(templ, wanted.get());
}

GstCapsPtr TemplateCaps(GstElementFactory* factory, GstPadDirection direction) {
    GstCaps* all = gst_caps_new_empty();
    for (const GList* l = gst_element_factory_get_static_pad_templates(factory); l; l = l->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(l->data);
        if (templ->direction == direction)
            all = gst_caps_merge(all, gst_static_pad_template_get_caps(templ));
    }
    return GstCapsPtr(all);
}

// Quick test before any trial: can the factory take raw audio at rate and channels and give
// something the writer takes at that rate and channel count?
bool MayEncode(GstElementFactory* factory, EncoderCategory category, int rate, int channels) {
    GstCapsPtr sink = TemplateCaps(factory, GST_PAD_SINK);
    if (!CapsAllow(sink.get(), "audio/x-raw", rate, channels)) return false;
    GstCapsPtr src = TemplateCaps(factory, GST_PAD_SRC);
    GstCapsPtr writer = WriterAcceptedCaps(category);
    GstCapsPtr both(gst_caps_intersect(src.get(), writer.get()));
    for (guint i = 0; i < gst_caps_get_size(both.get()); ++i) {
        GstCapsPtr one(gst_caps_copy_nth(both.get(), i));
        if (CapsAllow(one.get(), gst_structure_get_name(gst_caps_get_structure(one.get(), 0)), rate,
                      channels))
            return true;
    }
    return false;
}

// The negotiated caps reduced to plain fields (no stream headers or codec data), for a caps
// filter after the encoder.
std::string PlainCapsText(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps)) return {};
    GstStructure* plain =
        gst_structure_new_empty(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_foreach(
        s,
        [](GQuark field, const GValue* value, gpointer data) -> gboolean {
            GType type = G_VALUE_TYPE(value);
            if (type == G_TYPE_INT || type == G_TYPE_STRING || type == G_TYPE_BOOLEAN)
                gst_structure_id_set_value(static_cast<GstStructure*>(data), field, value);
            return TRUE;
        },
        plain);
    GstCapsPtr reduced(gst_caps_new_full(plain, nullptr));
    GCharPtr text(gst_caps_to_string(reduced.get()));
    return text.get();
}

int Trials = 0;

WaveFormat FormatFromTrial(const TrialOutcome& outcome, int rate, int channels, int kbps,
                           const PropertyList& properties) {
    WaveFormat format;
    format.formatTag = FormatTagForCaps(outcome.caps.get());
    format.channels = static_cast<std::uint16_t>(channels);
    format.samplesPerSec = static_cast<std::uint32_t>(rate);
    const GstStructure* s = gst_caps_get_structure(outcome.caps.get(), 0);
    int blockAlign = 0;
    gst_structure_get_int(s, "block_align", &blockAlign);
    switch (format.formatTag) {
        case 0x0001: {
            const char* name = gst_structure_get_string(s, "format");
            int bits = 16;
            if (name && std::strcmp(name, "U8") == 0) bits = 8;
            if (name && std::strcmp(name, "S24LE") == 0) bits = 24;
            if (name && std::strcmp(name, "S32LE") == 0) bits = 32;
            format.bitsPerSample = static_cast<std::uint16_t>(bits);
            format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
            break;
        }
        case 0x0006:
        case 0x0007:
            format.bitsPerSample = 8;
            format.blockAlign = static_cast<std::uint16_t>(channels);
            break;
        case 0x0002:    // Microsoft ADPCM: a 7-byte header per channel, then 4 bits per sample
        case 0x0011: {  // IMA ADPCM: a 4-byte header per channel, then 4 bits per sample
            const int header = format.formatTag == 0x0002 ? 7 : 4;
            const int extra = format.formatTag == 0x0002 ? 2 : 1;
            format.bitsPerSample = 4;
            format.blockAlign = static_cast<std::uint16_t>(blockAlign > 0 ? blockAlign : 1);
            const int samplesPerBlock =
                blockAlign > header * channels
                    ? (blockAlign - header * channels) * 2 / channels + extra
                    : 0;
            if (samplesPerBlock > 0)
                format.avgBytesPerSec =
                    static_cast<std::uint32_t>(std::uint64_t(rate) * blockAlign / samplesPerBlock);
            break;
        }
        case 0x0031:  // GSM 6.10 in 65-byte blocks of 320 samples
            format.bitsPerSample = 0;
            format.blockAlign = 65;
            format.avgBytesPerSec = static_cast<std::uint32_t>(std::uint64_t(rate) * 65 / 320);
            break;
        default:
            format.bitsPerSample = 0;
            format.blockAlign = static_cast<std::uint16_t>(blockAlign > 0 ? blockAlign : 1);
            break;
    }
    // Block codings have their byte rate from the block layout above.
    if (format.avgBytesPerSec == 0) {
        if (kbps > 0) {
            format.avgBytesPerSec = static_cast<std::uint32_t>(kbps * 1000 / 8);
        } else if (format.formatTag == 0x0001 || format.formatTag == 0x0006 ||
                   format.formatTag == 0x0007) {
            format.avgBytesPerSec = format.blockAlign * format.samplesPerSec;
        } else {
            int bitrate = 0;
            if (gst_structure_get_int(s, "bitrate", &bitrate) && bitrate > 0)
                format.avgBytesPerSec = static_cast<std::uint32_t>(bitrate / 8);
            else if (outcome.inputNs > 0)
                format.avgBytesPerSec = static_cast<std::uint32_t>(
                    gst_util_uint64_scale(outcome.bytes, GST_SECOND, outcome.inputNs));
        }
    }
    format.encoderCaps = PlainCapsText(outcome.caps.get());
    format.encoderProperties = properties;
    return format;
}

std::vector<WaveFormat> DiscoverFormats(EncoderCategory category, const std::string& factoryName) {
    std::vector<WaveFormat> formats;
    GstElementFactory* factory = gst_element_factory_find(factoryName.c_str());
    if (!factory) return formats;
    const BitRateRule* rule = FindRule(factoryName);
    for (int rate : kRates) {
        for (int channels : kChannels) {
            if (!MayEncode(factory, category, rate, channels)) continue;
            std::vector<int> bitRates = rule ? BitRatesFor(factoryName, rate) : std::vector<int>{};
            if (bitRates.empty()) bitRates.push_back(0);  // the encoder's own default
            for (int kbps : bitRates) {
                if (!PlausibleBitRate(factoryName, kbps, rate, channels)) continue;
                PropertyList properties;
                if (kbps > 0) {
                    properties = rule->extra;
                    properties.emplace_back(rule->property, std::to_string(kbps * rule->unit));
                }
                ++Trials;
                TrialOutcome outcome =
                    TrialEncodeAudio(factoryName, category, rate, channels, properties);
                if (outcome.ok)
                    formats.push_back(FormatFromTrial(outcome, rate, channels, kbps, properties));
            }
        }
    }
    gst_object_unref(factory);
    return formats;
}

bool IsEncoderOf(GstElementFactory* factory, EncoderCategory category) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (!klass) return false;
    return std::strstr(klass, IsAudioCategory(category) ? "Encoder/Audio" : "Encoder/Video");
}

// The registry's encoder factories of a category, by factory name.
std::vector<EncoderEntry> RegistryEncoders(EncoderCategory category) {
    std::vector<EncoderEntry> entries;
    GList* features = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
    for (GList* l = features; l; l = l->next) {
        auto* factory = GST_ELEMENT_FACTORY(l->data);
        if (!IsEncoderOf(factory, category)) continue;
        const char* longName =
            gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
        entries.push_back(
            {gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), longName ? longName : ""});
    }
    gst_plugin_feature_list_free(features);
    std::sort(entries.begin(), entries.end(), [](const EncoderEntry& a, const EncoderEntry& b) {
        return a.factoryName < b.factoryName;
    });
    return entries;
}

QJsonObject FormatToJson(const WaveFormat& f) {
    QJsonArray properties;
    for (const auto& [name, value] : f.encoderProperties)
        properties.append(QJsonArray{QString::fromStdString(name), QString::fromStdString(value)});
    return QJsonObject{{"tag", f.formatTag},
                       {"channels", f.channels},
                       {"rate", static_cast<qint64>(f.samplesPerSec)},
                       {"bytes", static_cast<qint64>(f.avgBytesPerSec)},
                       {"align", f.blockAlign},
                       {"bits", f.bitsPerSample},
                       {"caps", QString::fromStdString(f.encoderCaps)},
                       {"properties", properties}};
}

WaveFormat FormatFromJson(const QJsonObject& o) {
    WaveFormat f;
    f.formatTag = static_cast<std::uint16_t>(o["tag"].toInt());
    f.channels = static_cast<std::uint16_t>(o["channels"].toInt());
    f.samplesPerSec = static_cast<std::uint32_t>(o["rate"].toInteger());
    f.avgBytesPerSec = static_cast<std::uint32_t>(o["bytes"].toInteger());
    f.blockAlign = static_cast<std::uint16_t>(o["align"].toInt());
    f.bitsPerSample = static_cast<std::uint16_t>(o["bits"].toInt());
    f.encoderCaps = o["caps"].toString().toStdString();
    for (const QJsonValue& p : o["properties"].toArray()) {
        QJsonArray pair = p.toArray();
        f.encoderProperties.emplace_back(pair.at(0).toString().toStdString(),
                                         pair.at(1).toString().toStdString());
    }
    return f;
}

// What this process knows; guarded by mutex.
struct Discovery {
    std::mutex mutex;
    std::string folder;
    bool folderSet = false;
    guint32 cookie = 0;
    bool cookieValid = false;
    std::string key;
    std::map<std::string, std::vector<EncoderEntry>> lists;  // by category key
    std::map<std::string, std::vector<WaveFormat>> formats;  // by "category/factory"
};

Discovery& State() {
    static Discovery state;
    return state;
}

std::string FormatKey(EncoderCategory category, const std::string& factory) {
    return std::string(CategoryKey(category)) + "/" + factory;
}

std::string CacheFileLocked(Discovery& d) {
    std::string folder = d.folder;
    if (!d.folderSet) {
        if (const char* env = std::getenv("KESTRINE_CACHE_DIR"); env && *env) {
            folder = env;
        } else {
            folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                         .toStdString() +
                     "/Brontwell/kestrine";
        }
    }
    return folder + "/encoders.json";
}

QJsonObject ReadCacheFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    return doc.isObject() ? doc.object() : QJsonObject{};
}

void TakeFromJson(Discovery& d, const QJsonObject& root) {
    const QJsonObject lists = root["lists"].toObject();
    for (auto it = lists.begin(); it != lists.end(); ++it) {
        std::vector<EncoderEntry> entries;
        for (const QJsonValue& v : it.value().toArray()) {
            QJsonArray pair = v.toArray();
            entries.push_back(
                {pair.at(0).toString().toStdString(), pair.at(1).toString().toStdString()});
        }
        d.lists.emplace(it.key().toStdString(), std::move(entries));
    }
    const QJsonObject formats = root["formats"].toObject();
    for (auto it = formats.begin(); it != formats.end(); ++it) {
        std::vector<WaveFormat> list;
        for (const QJsonValue& v : it.value().toArray())
            list.push_back(FormatFromJson(v.toObject()));
        d.formats.emplace(it.key().toStdString(), std::move(list));
    }
}

// Writes what this process knows, merged with what another process may have added to a file of
// the same registry meanwhile. Failures only cost a later rebuild.
void SaveLocked(Discovery& d) {
    const std::string path = CacheFileLocked(d);
    QJsonObject existing = ReadCacheFile(path);
    if (existing["key"].toString().toStdString() == d.key) TakeFromJson(d, existing);
    QJsonObject lists;
    for (const auto& [key, entries] : d.lists) {
        QJsonArray array;
        for (const EncoderEntry& e : entries)
            array.append(QJsonArray{QString::fromStdString(e.factoryName),
                                    QString::fromStdString(e.longName)});
        lists[QString::fromStdString(key)] = array;
    }
    QJsonObject formats;
    for (const auto& [key, list] : d.formats) {
        QJsonArray array;
        for (const WaveFormat& f : list) array.append(FormatToJson(f));
        formats[QString::fromStdString(key)] = array;
    }
    QJsonObject root{
        {"key", QString::fromStdString(d.key)}, {"lists", lists}, {"formats", formats}};
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    file.commit();
}

// Makes the in-memory state match the current registry: unchanged registry, nothing to do;
// otherwise take the cache file when its key matches, else start empty.
void RefreshLocked(Discovery& d) {
    const guint32 cookie = gst_registry_get_feature_list_cookie(gst_registry_get());
    if (d.cookieValid && cookie == d.cookie) return;
    d.cookie = cookie;
    d.cookieValid = true;
    const std::string key = RegistryFingerprint();
    if (key == d.key) return;
    d.key = key;
    d.lists.clear();
    d.formats.clear();
    QJsonObject root = ReadCacheFile(CacheFileLocked(d));
    if (root["key"].toString().toStdString() == key) TakeFromJson(d, root);
}

const std::vector<WaveFormat>& FormatsLocked(Discovery& d, EncoderCategory category,
                                             const std::string& factory, bool& added) {
    const std::string key = FormatKey(category, factory);
    auto it = d.formats.find(key);
    if (it == d.formats.end()) {
        CEncoderChatter quiet;  // the combinations tried are not the user's business
        it = d.formats.emplace(key, DiscoverFormats(category, factory)).first;
        added = true;
    }
    return it->second;
}

const std::vector<EncoderEntry>& ListLocked(Discovery& d, EncoderCategory category) {
    const std::string key = CategoryKey(category);
    auto it = d.lists.find(key);
    if (it != d.lists.end()) return it->second;
    // Programs started together (a test run, two windows) would all run the same trials: the
    // first one builds the list while the others wait for its file.
    const std::string path = CacheFileLocked(d);
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QLockFile buildLock(QString::fromStdString(path) + ".lock");
    buildLock.setStaleLockTime(120000);
    buildLock.tryLock(90000);  // without the lock the trials simply run here as well
    QJsonObject root = ReadCacheFile(path);
    if (root["key"].toString().toStdString() == d.key) TakeFromJson(d, root);
    it = d.lists.find(key);
    if (it != d.lists.end()) return it->second;
    std::vector<EncoderEntry> verified;
    bool added = false;
    CEncoderChatter quiet;  // the combinations tried are not the user's business
    for (EncoderEntry& entry : RegistryEncoders(category)) {
        bool works = false;
        if (IsAudioCategory(category)) {
            works = !FormatsLocked(d, category, entry.factoryName, added).empty();
        } else {
            ++Trials;
            works = TrialEncodeVideo(entry.factoryName).ok;
        }
        if (works) verified.push_back(std::move(entry));
    }
    it = d.lists.emplace(key, std::move(verified)).first;
    SaveLocked(d);
    return d.lists[key];
}

// Factories that share a long name (libav's avenc_ac3 and avenc_ac3_fixed) would give two equal
// lines, of which only the first could ever be chosen: a later one gets its factory name added.
// The first keeps the plain name, which has always created it.
void MakeNamesDistinct(std::vector<EncoderEntry>& entries) {
    std::set<std::string> seen;
    for (EncoderEntry& entry : entries)
        if (!seen.insert(entry.longName).second) entry.longName += " (" + entry.factoryName + ")";
}

}  // namespace

std::string RegistryFingerprint() {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::number(kCacheVersion));
    hash.addData(QByteArrayView(gst_version_string()));
    hash.addData(QSysInfo::machineHostName().toUtf8());
    std::vector<std::string> lines;
    GList* plugins = gst_registry_get_plugin_list(gst_registry_get());
    for (GList* l = plugins; l; l = l->next) {
        auto* plugin = GST_PLUGIN(l->data);
        const char* file = gst_plugin_get_filename(plugin);
        // Plugins registered from inside a program (no file) exist in that process only; they
        // must not make every other program's cache look stale.
        if (!file) continue;
        std::string line = gst_plugin_get_name(plugin);
        line += "|";
        line += file;
        line += "|";
        line += gst_plugin_get_version(plugin) ? gst_plugin_get_version(plugin) : "";
        struct stat info {};
        if (stat(file, &info) == 0)
            line += "|" + std::to_string(info.st_size) + "|" + std::to_string(info.st_mtime);
        lines.push_back(std::move(line));
    }
    gst_plugin_list_free(plugins);
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) hash.addData(QByteArrayView(line.c_str()));
    return hash.result().toHex().toStdString();
}

std::vector<EncoderEntry> VerifiedEncoders(EncoderCategory category) {
    if (!gst_is_initialized()) return {};
    Discovery& d = State();
    std::lock_guard lock(d.mutex);
    RefreshLocked(d);
    std::vector<EncoderEntry> entries = ListLocked(d, category);
    MakeNamesDistinct(entries);
    return entries;
}

HRESULT EnumerateEncoders(EncoderCategory category, std::vector<std::string>& list) {
    list.assign(1, kUncompressed);
    if (!gst_is_initialized()) return E_FAIL;
    std::vector<EncoderEntry> entries = VerifiedEncoders(category);
    for (const EncoderEntry& e : entries) list.push_back(e.longName);
    return entries.empty() ? S_FALSE : S_OK;
}

ElementRef CreateFilterByName(EncoderCategory category, const std::string& name) {
    const std::string factory = FactoryForName(category, name);
    return factory.empty() ? ElementRef{}
                           : AdoptElement(gst_element_factory_make(factory.c_str(), nullptr));
}

std::string FactoryForName(EncoderCategory category, const std::string& name) {
    for (const EncoderEntry& e : VerifiedEncoders(category))
        if (e.longName == name) return e.factoryName;
    return {};
}

std::vector<WaveFormat> EncoderFormats(EncoderCategory category, const std::string& factoryName) {
    if (!gst_is_initialized() || factoryName.empty()) return {};
    Discovery& d = State();
    std::lock_guard lock(d.mutex);
    RefreshLocked(d);
    bool added = false;
    std::vector<WaveFormat> formats = FormatsLocked(d, category, factoryName, added);
    if (added) SaveLocked(d);
    return formats;
}

std::string FactoryNameOf(GstElement* element) {
    if (!element) return {};
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
}

void SetEncoderCacheFolder(const std::string& folder) {
    Discovery& d = State();
    std::lock_guard lock(d.mutex);
    d.folder = folder;
    d.folderSet = !folder.empty();
    d.cookieValid = false;
    d.key.clear();
    d.lists.clear();
    d.formats.clear();
}

std::string EncoderCacheFile() {
    Discovery& d = State();
    std::lock_guard lock(d.mutex);
    return CacheFileLocked(d);
}

int TrialEncodeCount() {
    return Trials;
}
