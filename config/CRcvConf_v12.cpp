#include "config/CRcvConf_v12.h"

#include "platform/Text.h"

namespace {

// Reads little-endian values from the file's bytes; the first read past the
// end sets the failure and every later read fails too.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool ok() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }
    size_t remaining() const { return bytes_.size() - pos_; }

    bool u8(uint8_t* out) {
        uint64_t v = 0;
        if (!little(1, &v)) return false;
        *out = uint8_t(v);
        return true;
    }
    bool u16(uint16_t* out) {
        uint64_t v = 0;
        if (!little(2, &v)) return false;
        *out = uint16_t(v);
        return true;
    }
    bool u32(uint32_t* out) {
        uint64_t v = 0;
        if (!little(4, &v)) return false;
        *out = uint32_t(v);
        return true;
    }
    bool i32(int32_t* out) {
        uint32_t v = 0;
        if (!u32(&v)) return false;
        *out = static_cast<int32_t>(v);
        return true;
    }

    // A length-prefixed GBK string, returned as UTF-8: a length below 255 in
    // one byte; else 0xFF and a 16-bit length below 0xFFFE; else 0xFF,
    // 0xFFFF and a 32-bit length.
    bool text(std::string* out) {
        uint8_t shortLength = 0;
        if (!u8(&shortLength)) return false;
        uint64_t length = shortLength;
        if (shortLength == 0xFF) {
            uint16_t mid = 0;
            if (!u16(&mid)) return false;
            length = mid;
            if (mid == 0xFFFE) return fail("不支持的字符串格式");
            if (mid == 0xFFFF) {
                uint32_t wide = 0;
                if (!u32(&wide)) return false;
                length = wide;
            }
        }
        if (length > remaining()) return fail("字符串长度超出文件");
        *out = platform::GbkToUtf8(bytes_.substr(pos_, size_t(length)));
        pos_ += size_t(length);
        return true;
    }

    bool servers(std::vector<ServerInfo>* out) {
        // The smallest entry is three empty strings and a port.
        constexpr size_t kMinEntryBytes = 1 + 1 + 4 + 1;
        uint32_t count = 0;
        if (!u32(&count)) return false;
        if (count > remaining() / kMinEntryBytes) return fail("服务器数量超出文件");
        out->assign(count, ServerInfo{});
        for (ServerInfo& s : *out) {
            if (!text(&s.stationId) || !text(&s.serverAddr) || !i32(&s.port) || !text(&s.comment))
                return false;
        }
        return true;
    }

  private:
    bool little(size_t n, uint64_t* out) {
        if (!ok()) return false;
        if (remaining() < n) return fail("文件不完整");
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i)
            v |= uint64_t(static_cast<unsigned char>(bytes_[pos_ + i])) << (8 * i);
        pos_ += n;
        *out = v;
        return true;
    }
    bool fail(const char* what) {
        if (ok()) failure_ = std::string(what) + "（偏移 " + std::to_string(pos_) + "）";
        return false;
    }

    std::string_view bytes_;
    size_t pos_ = 0;
    std::string failure_;
};

}  // namespace

int CRcvConf_v12::Parse(std::string_view bytes) {
    CRcvConf_v12 r;
    Reader in(bytes);
    bool whole = in.u32(&r.formatVersion) && in.text(&r.usrId) && in.i32(&r.rcv_Mcast) &&
                 in.i32(&r.rcvZSXX) && in.i32(&r.rcvFGKSBXX) && in.i32(&r.rcvFGKCJXX) &&
                 in.u16(&r.mcRcvPort1) && in.u16(&r.mcRcvPort2) && in.u32(&r.mcRcvAddr1) &&
                 in.u32(&r.mcRcvAddr2) && in.i32(&r.enableQuerySupport) &&
                 in.u32(&r.queryLsnAddr) && in.i32(&r.queryLsnPort) && in.u32(&r.dwFlag) &&
                 in.i32(&r.dwKeepFileDays) && in.u32(&r.mcNetCard1) && in.u32(&r.mcNetCard2) &&
                 in.text(&r.szDefaultDataPath) && in.text(&r.szLogPath) && in.text(&r.NQHQ_File) &&
                 in.text(&r.NQXYXX_File) && in.text(&r.NQZSXX_File) && in.text(&r.NQXX_File) &&
                 in.text(&r.NQFGKSBXX_File) && in.text(&r.NQFGKCJXX_File) &&
                 in.text(&r.szTYBulletinPath) && in.text(&r.szTYOpenFlagFile) &&
                 in.servers(&r.servers[0]) && in.servers(&r.servers[1]);
    if (!whole) {
        failure_ = in.failure();
        return -1;
    }
    *this = std::move(r);
    return 0;
}

int CRcvConf_v12::ReadV12File(const std::string& path) {
    fileError_ = platform::FileError{};
    failure_.clear();
    platform::File file;
    if (!file.open(path, false)) {
        fileError_ = file.error();
        return -1;
    }
    std::string bytes;
    char buf[16384];
    for (;;) {
        size_t got = 0;
        if (!file.read(buf, sizeof buf, &got)) {
            fileError_ = file.error();
            return -1;
        }
        if (got == 0) break;
        bytes.append(buf, got);
        if (int64_t(bytes.size()) > kMaxFileSize) {
            failure_ = "文件过大";
            return -1;
        }
    }
    return Parse(bytes);
}
