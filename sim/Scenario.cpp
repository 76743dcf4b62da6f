#include "sim/Scenario.h"

#include <cctype>
#include <cstdlib>
#include <map>

#include "sim/Digits.h"
#include "sim/SimFile.h"

namespace sim {

namespace {

constexpr size_t kMaxFileSize = 1 << 20;
constexpr size_t kMaxLineLength = 4096;
constexpr size_t kMaxDrives = 64;
constexpr size_t kMaxAdapters = 32;
constexpr size_t kMaxFaults = 256;
constexpr size_t kMaxText = 64;

// One line cut into its words; key=value words are split, values may be quoted.
struct Word {
    std::string key;
    std::string value;
    bool hasValue = false;
};

bool SplitLine(const std::string& line, std::vector<Word>& words, std::string& problem) {
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= n || line[i] == '#') break;
        Word w;
        std::string* into = &w.key;
        while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            char c = line[i];
            if (c == '=' && !w.hasValue) {
                w.hasValue = true;
                into = &w.value;
                ++i;
            } else if (c == '"') {
                size_t close = line.find('"', i + 1);
                if (close == std::string::npos) {
                    problem = "unterminated quote";
                    return false;
                }
                into->append(line, i + 1, close - i - 1);
                i = close + 1;
            } else if (static_cast<unsigned char>(c) < 0x20 ||
                       static_cast<unsigned char>(c) > 0x7E) {
                problem = "unexpected character";
                return false;
            } else {
                into->push_back(c);
                ++i;
            }
        }
        words.push_back(w);
    }
    return true;
}

// Decimal, or hexadecimal after "0x".
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseUnsigned(text.substr(2), 16, max, value);
    return ParseUnsigned(text, 10, max, value);
}

bool ParseHexByte(const std::string& text, uint8_t& value) {
    if (text.empty() || text.size() > 2) return false;
    uint64_t v;
    if (!ParseNumber("0x" + text, 0xFF, v)) return false;
    value = uint8_t(v);
    return true;
}

// "KEY/ASC/ASCQ" in hexadecimal, e.g. 05/24/00.
bool ParseSense(const std::string& text, SenseCode& sense) {
    size_t a = text.find('/');
    size_t b = a == std::string::npos ? a : text.find('/', a + 1);
    if (b == std::string::npos || text.find('/', b + 1) != std::string::npos) return false;
    return ParseHexByte(text.substr(0, a), sense.key) &&
           ParseHexByte(text.substr(a + 1, b - a - 1), sense.asc) &&
           ParseHexByte(text.substr(b + 1), sense.ascq) && sense.key <= 0x0F;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
            return false;
    }
    return true;
}

class LineParser {
  public:
    LineParser(Scenario& scenario, std::vector<Word> words)
        : s_(scenario), words_(std::move(words)) {}

    bool Parse(std::string& problem) {
        const std::string& kind = words_[0].key;
        if (words_[0].hasValue) return Fail(problem, "a line starts with its kind, not key=value");
        if (kind == "record") return Path(s_.recordPath, problem);
        if (kind == "state") return Path(s_.statePath, problem);
        if (kind == "aspi") return Aspi(problem);
        if (kind == "adapter") return Adapter(problem);
        if (kind == "drive") return Drive(problem);
        if (kind == "letter") return Letter(problem);
        if (kind == "fault") return FaultLine(problem);
        return Fail(problem, "unknown kind '" + kind + "'");
    }

  private:
    static bool Fail(std::string& problem, const std::string& text) {
        problem = text;
        return false;
    }

    // The words after the kind and its positional argument(s) must all be key=value.
    bool Options(size_t from, std::map<std::string, std::string>& options, std::string& problem) {
        for (size_t i = from; i < words_.size(); ++i) {
            const Word& w = words_[i];
            // A word without a value is a flag such as "transport".
            if (options.count(w.key) != 0) return Fail(problem, "'" + w.key + "' given twice");
            options[w.key] = w.value;
        }
        return true;
    }

    bool Number(std::map<std::string, std::string>& options, const char* key, uint64_t max,
                uint64_t& value, std::string& problem) {
        auto it = options.find(key);
        if (it == options.end()) return true;
        if (!ParseNumber(it->second, max, value))
            return Fail(problem,
                        std::string("'") + key + "' wants a number up to " + std::to_string(max));
        options.erase(it);
        return true;
    }

    // "\xHH" stands for the byte HH: a drive's names may hold bytes a line cannot.
    bool Text(std::map<std::string, std::string>& options, const char* key, std::string& value,
              std::string& problem) {
        auto it = options.find(key);
        if (it == options.end()) return true;
        std::string text;
        const std::string& given = it->second;
        for (size_t i = 0; i < given.size(); ++i) {
            uint8_t byte = uint8_t(given[i]);
            if (given[i] == '\\') {
                if (given.size() - i < 4 || given.compare(i, 2, "\\x") != 0 ||
                    !ParseHexByte(given.substr(i + 2, 2), byte))
                    return Fail(problem, std::string("'") + key + "': \\ wants xHH");
                i += 3;
            }
            text.push_back(char(byte));
        }
        if (text.size() > kMaxText) return Fail(problem, std::string("'") + key + "' is too long");
        value = text;
        options.erase(it);
        return true;
    }

    bool NoneLeft(const std::map<std::string, std::string>& options, std::string& problem) {
        if (options.empty()) return true;
        return Fail(problem, "unknown option '" + options.begin()->first + "'");
    }

    bool Path(std::string& into, std::string& problem) {
        if (words_.size() != 2 || words_[1].hasValue || words_[1].key.empty())
            return Fail(problem, "'" + words_[0].key + "' wants one path");
        if (words_[1].key.size() > 1024) return Fail(problem, "path too long");
        into = words_[1].key;
        return true;
    }

    bool Aspi(std::string& problem) {
        std::map<std::string, std::string> o;
        if (!Options(1, o, problem)) return false;
        uint64_t status = s_.aspiStatus, count = uint64_t(-1);
        if (!Number(o, "status", 0xFF, status, problem) ||
            !Number(o, "count", 0xFF, count, problem))
            return false;
        s_.aspiStatus = uint8_t(status);
        if (count != uint64_t(-1)) s_.haCount = int(count);
        return NoneLeft(o, problem);
    }

    bool Adapter(std::string& problem) {
        uint64_t id;
        if (words_.size() < 2 || words_[1].hasValue || !ParseNumber(words_[1].key, 0xFF, id))
            return Fail(problem, "'adapter' wants its number first");
        if (s_.Adapter(uint8_t(id)) != nullptr) return Fail(problem, "adapter declared twice");
        if (s_.adapters.size() >= kMaxAdapters) return Fail(problem, "too many adapters");
        AdapterSpec a;
        a.id = uint8_t(id);
        std::map<std::string, std::string> o;
        if (!Options(2, o, problem)) return false;
        uint64_t align = a.alignMask, flags = a.flags, targets = a.targets, max = a.maxTransfer,
                 scsiId = a.scsiId;
        if (!Number(o, "align", 0xFFFF, align, problem) ||
            !Number(o, "flags", 0xFF, flags, problem) ||
            !Number(o, "targets", 0xFF, targets, problem) ||
            !Number(o, "max-transfer", 0xFFFFFFFF, max, problem) ||
            !Number(o, "scsi-id", 0xFF, scsiId, problem))
            return false;
        std::string completion = "now";
        if (!Text(o, "completion", completion, problem)) return false;
        if (completion != "now" && completion != "later")
            return Fail(problem, "'completion' is now or later");
        a.alignMask = uint16_t(align);
        a.flags = uint8_t(flags);
        a.targets = uint8_t(targets);
        a.maxTransfer = uint32_t(max);
        a.scsiId = uint8_t(scsiId);
        a.deferred = completion == "later";
        if (!NoneLeft(o, problem)) return false;
        s_.adapters.push_back(a);
        return true;
    }

    bool Drive(std::string& problem) {
        if (words_.size() < 2 || words_[1].hasValue || !ValidName(words_[1].key))
            return Fail(problem, "'drive' wants a name (letters, digits, _ - .) first");
        if (s_.DriveNamed(words_[1].key) >= 0) return Fail(problem, "drive declared twice");
        if (s_.drives.size() >= kMaxDrives) return Fail(problem, "too many drives");
        DriveSpec d;
        d.name = words_[1].key;
        std::map<std::string, std::string> o;
        if (!Options(2, o, problem)) return false;
        DriveConfig& c = d.config;
        uint64_t peripheral = c.peripheral, readCaps = c.readCaps, writeCaps = c.writeCaps,
                 buffer = c.bufferSize, adapter = uint64_t(-1), target = 0, lun = 0,
                 devType = uint64_t(-1), inquiryLength = c.inquiryLength, pad = c.inquiryPad;
        if (!Number(o, "peripheral", 0xFF, peripheral, problem) ||
            !Number(o, "devtype", 0xFF, devType, problem) ||
            !Number(o, "read-caps", 0xFF, readCaps, problem) ||
            !Number(o, "write-caps", 0xFF, writeCaps, problem) ||
            !Number(o, "buffer", 0x1000000, buffer, problem) ||
            !Number(o, "inquiry-length", SimDrive::kInquiryLength, inquiryLength, problem) ||
            !Number(o, "inquiry-pad", 0xFF, pad, problem) ||
            !Number(o, "adapter", 0xFF, adapter, problem) ||
            !Number(o, "target", 0xFF, target, problem) || !Number(o, "lun", 0xFF, lun, problem) ||
            !Text(o, "vendor", c.vendor, problem) || !Text(o, "product", c.product, problem) ||
            !Text(o, "revision", c.revision, problem) ||
            !Text(o, "new-revision", c.newRevision, problem))
            return false;
        std::string shows = "now";
        if (!Text(o, "new-revision-at", shows, problem)) return false;
        if (shows != "now" && shows != "restart")
            return Fail(problem, "'new-revision-at' is now or restart");
        c.newRevisionAtRestart = shows == "restart";
        if (!NoneLeft(o, problem)) return false;
        c.peripheral = uint8_t(peripheral);
        c.readCaps = uint8_t(readCaps);
        c.writeCaps = uint8_t(writeCaps);
        c.bufferSize = uint32_t(buffer);
        if (inquiryLength < 5) return Fail(problem, "'inquiry-length' is 5 to 36");
        c.inquiryLength = uint32_t(inquiryLength);
        c.inquiryPad = uint8_t(pad);
        if (devType != uint64_t(-1)) d.devType = int(devType);
        if (adapter != uint64_t(-1)) {
            if (s_.Adapter(uint8_t(adapter)) == nullptr)
                return Fail(problem, "adapter " + std::to_string(adapter) + " is not declared");
            if (s_.DriveAt(uint8_t(adapter), uint8_t(target), uint8_t(lun)) >= 0)
                return Fail(problem, "another drive has that adapter, target and lun");
            d.onAspi = true;
            d.adapter = uint8_t(adapter);
            d.target = uint8_t(target);
            d.lun = uint8_t(lun);
        }
        s_.drives.push_back(d);
        return true;
    }

    bool Letter(std::string& problem) {
        const std::string& l = words_.size() >= 2 ? words_[1].key : std::string();
        if (words_.size() < 2 || words_[1].hasValue || l.size() != 1 || l[0] < 'c' || l[0] > 'z')
            return Fail(problem, "'letter' wants one of c..z first");
        if (s_.Letter(l[0]) != nullptr) return Fail(problem, "letter declared twice");
        std::map<std::string, std::string> o;
        if (!Options(2, o, problem)) return false;
        std::string name;
        if (!Text(o, "drive", name, problem)) return false;
        int drive = s_.DriveNamed(name);
        if (drive < 0) return Fail(problem, "'letter' wants drive=NAME of a drive declared above");
        uint64_t path = 0, target = 0, lun = 0;
        if (!Number(o, "path", 0xFF, path, problem) ||
            !Number(o, "target", 0xFF, target, problem) || !Number(o, "lun", 0xFF, lun, problem) ||
            !NoneLeft(o, problem))
            return false;
        LetterSpec spec;
        spec.letter = l[0];
        spec.drive = size_t(drive);
        spec.pathId = uint8_t(path);
        spec.targetId = uint8_t(target);
        spec.lun = uint8_t(lun);
        s_.letters.push_back(spec);
        return true;
    }

    bool FaultLine(std::string& problem) {
        if (words_.size() < 2 || words_[1].hasValue)
            return Fail(problem, "'fault' wants the drive's name first");
        int drive = s_.DriveNamed(words_[1].key);
        if (drive < 0) return Fail(problem, "no drive named '" + words_[1].key + "' above");
        DriveSpec& d = s_.drives[size_t(drive)];
        if (d.faults.size() >= kMaxFaults) return Fail(problem, "too many faults");
        std::map<std::string, std::string> o;
        if (!Options(2, o, problem)) return false;
        Fault f;
        uint64_t opcode = uint64_t(-1), mode = uint64_t(-1), offset = uint64_t(-1), count = 1;
        if (!Number(o, "opcode", 0xFF, opcode, problem) ||
            !Number(o, "mode", 0x1F, mode, problem) ||
            !Number(o, "offset", 0xFFFFFF, offset, problem) ||
            !Number(o, "count", 0xFFFFFFFF, count, problem))
            return false;
        std::string sense;
        bool hasSense = o.count("sense") != 0;
        if (!Text(o, "sense", sense, problem)) return false;
        bool transport = o.erase("transport") != 0;
        bool noAnswer = o.erase("no-answer") != 0;
        f.afterSave = o.erase("after-save") != 0;
        if (!NoneLeft(o, problem)) return false;
        if (int(hasSense) + int(transport) + int(noAnswer) != 1)
            return Fail(problem, "'fault' wants either sense=K/AA/QQ, transport or no-answer");
        if (hasSense && !ParseSense(sense, f.sense))
            return Fail(problem, "'sense' is KEY/ASC/ASCQ in hexadecimal, e.g. 05/24/00");
        f.kind = transport  ? Fault::Kind::TransportFail
                 : noAnswer ? Fault::Kind::NoAnswer
                            : Fault::Kind::CheckCondition;
        if (opcode != uint64_t(-1)) f.opcode = int(opcode);
        if (mode != uint64_t(-1)) f.mode = int(mode);
        if (offset != uint64_t(-1)) f.bufferOffset = int64_t(offset);
        f.count = uint32_t(count);
        d.faults.push_back(f);
        return true;
    }

    Scenario& s_;
    std::vector<Word> words_;
};

}  // namespace

const AdapterSpec* Scenario::Adapter(uint8_t id) const {
    for (const AdapterSpec& a : adapters) {
        if (a.id == id) return &a;
    }
    return nullptr;
}

int Scenario::DriveAt(uint8_t adapter, uint8_t target, uint8_t lun) const {
    for (size_t i = 0; i < drives.size(); ++i) {
        const DriveSpec& d = drives[i];
        if (d.onAspi && d.adapter == adapter && d.target == target && d.lun == lun) return int(i);
    }
    return -1;
}

int Scenario::DriveNamed(const std::string& name) const {
    for (size_t i = 0; i < drives.size(); ++i) {
        if (drives[i].name == name) return int(i);
    }
    return -1;
}

const LetterSpec* Scenario::Letter(char letter) const {
    for (const LetterSpec& l : letters) {
        if (l.letter == letter) return &l;
    }
    return nullptr;
}

std::string ScenarioError::Describe() const {
    if (line == 0) return "scenario: " + message;
    return "scenario line " + std::to_string(line) + ": " + message;
}

bool ParseScenario(const std::string& text, Scenario& scenario, ScenarioError& error) {
    Scenario s;
    error = ScenarioError{};
    if (text.size() > kMaxFileSize) {
        error.message = "file larger than 1 MiB";
        return false;
    }
    size_t pos = 0;
    int lineNumber = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        ++lineNumber;
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        error.line = lineNumber;
        if (line.size() > kMaxLineLength) {
            error.message = "line longer than 4096 characters";
            return false;
        }
        std::vector<Word> words;
        if (!SplitLine(line, words, error.message)) return false;
        if (words.empty()) continue;
        LineParser parser(s, std::move(words));
        if (!parser.Parse(error.message)) return false;
    }
    error = ScenarioError{};
    scenario = std::move(s);
    return true;
}

bool LoadScenario(const std::string& path, Scenario& scenario, ScenarioError& error) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        error = ScenarioError{};
        error.message = "cannot read " + path;
        return false;
    }
    return ParseScenario(text, scenario, error);
}

}  // namespace sim
