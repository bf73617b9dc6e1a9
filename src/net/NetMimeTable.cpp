#include "net/NetMimeTable.h"

#include "common/Text.h"

#include <fstream>
#include <iterator>

namespace {

const char* const kUnknownMimeType = "application/octet-stream";

// A system list larger than this is not a mime.types file; it is ignored.
constexpr std::streamsize kMaxSystemTypesSize = 16 * 1024 * 1024;

std::string NormalExtension(std::string_view extension) {
    std::string e = LowerCase(extension);
    if (!e.empty() && e[0] != '.') e.insert(0, ".");
    return e;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsSpace(line[i]))
            ++i;
        const size_t b = i;
        while (i < line.size() && !IsSpace(line[i]))
            ++i;
        if (i > b) words.push_back(line.substr(b, i - b));
    }
    return words;
}

} // namespace

TNetMimeTable::TNetMimeTable(bool fillNow) {
    if (fillNow) BuildCache();
}

const std::vector<std::string>& TNetMimeTable::BuiltInLines() {
    static const std::vector<std::string> lines = {
        ".aiff=audio/aiff",
        ".au=audio/basic",
        ".mid=midi/mid",
        ".mp3=audio/x-mpg",
        ".m3u=audio/x-mpegurl",
        ".qcp=audio/vnd.qcelp",
        ".ra=audio/x-realaudio",
        ".wav=audio/wav",
        ".gsm=audio/x-gsm",
        ".wax=audio/x-ms-wax",
        ".wma=audio/x-ms-wma",
        ".ram=audio/x-pn-realaudio",
        ".mjf=audio/x-vnd.AudioExplosion.MjuiceMediaFile",
        ".bmp=image/bmp",
        ".gif=image/gif",
        ".jpg=image/jpeg",
        ".jpeg=image/jpeg",
        ".jpe=image/jpeg",
        ".pict=image/pict",
        ".png=image/x-png",
        ".svg=image/svg-xml",
        ".tif=image/x-tiff",
        ".rf=image/vnd.rn-realflash",
        ".rp=image/vnd.rn-realpix",
        ".ico=image/x-icon",
        ".art=image/x-jg",
        ".pntg=image/x-macpaint",
        ".qtif=image/x-quicktime",
        ".sgi=image/x-sgi",
        ".targa=image/x-targa",
        ".xbm=image/xbm",
        ".psd=image/x-photoshop",
        ".pnm=image/x-portable-anymap",
        ".pbm=image/x-portable-bitmap",
        ".pgm=image/x-portable-graymap",
        ".ppm=image/x-portable-pixmap",
        ".rgb=image/x-rgb",
        ".xbm=image/x-xbitmap",
        ".xpm=image/x-xpixmap",
        ".xwd=image/x-xwindowdump",
        ".323=text/h323",
        ".xml=text/xml",
        ".uls=text/iuls",
        ".txt=text/plain",
        ".rtx=text/richtext",
        ".wsc=text/scriptlet",
        ".rt=text/vnd.rn-realtext",
        ".htt=text/webviewhtml",
        ".htc=text/x-component",
        ".vcf=text/x-vcard",
        ".avi=video/x-msvideo",
        ".flc=video/flc",
        ".mpeg=video/x-mpeg2a",
        ".mov=video/quicktime",
        ".rv=video/vnd.rn-realvideo",
        ".ivf=video/x-ivf",
        ".wm=video/x-ms-wm",
        ".wmp=video/x-ms-wmp",
        ".wmv=video/x-ms-wmv",
        ".wmx=video/x-ms-wmx",
        ".wvx=video/x-ms-wvx",
        ".rms=video/vnd.rn-realvideo-secure",
        ".asx=video/x-ms-asf-plugin",
        ".movie=video/x-sgi-movie",
        ".wmd=application/x-ms-wmd",
        ".wms=application/x-ms-wms",
        ".wmz=application/x-ms-wmz",
        ".p12=application/x-pkcs12",
        ".p7b=application/x-pkcs7-certificates",
        ".p7r=application/x-pkcs7-certreqresp",
        ".qtl=application/x-quicktimeplayer",
        ".rtsp=application/x-rtsp",
        ".swf=application/x-shockwave-flash",
        ".sit=application/x-stuffit",
        ".tar=application/x-tar",
        ".man=application/x-troff-man",
        ".urls=application/x-url-list",
        ".zip=application/x-zip-compressed",
        ".cdf=application/x-cdf",
        ".fml=application/x-file-mirror-list",
        ".fif=application/fractals",
        ".spl=application/futuresplash",
        ".hta=application/hta",
        ".hqx=application/mac-binhex40",
        ".doc=application/msword",
        ".pdf=application/pdf",
        ".p10=application/pkcs10",
        ".p7m=application/pkcs7-mime",
        ".p7s=application/pkcs7-signature",
        ".cer=application/x-x509-ca-cert",
        ".crl=application/pkix-crl",
        ".ps=application/postscript",
        ".sdp=application/x-sdp",
        ".setpay=application/set-payment-initiation",
        ".setreg=application/set-registration-initiation",
        ".smil=application/smil",
        ".ssm=application/streamingmedia",
        ".xfdf=application/vnd.adobe.xfdf",
        ".fdf=application/vnd.fdf",
        ".xls=application/x-msexcel",
        ".sst=application/vnd.ms-pki.certstore",
        ".pko=application/vnd.ms-pki.pko",
        ".cat=application/vnd.ms-pki.seccat",
        ".stl=application/vnd.ms-pki.stl",
        ".rmf=application/vnd.rmf",
        ".rm=application/vnd.rn-realmedia",
        ".rnx=application/vnd.rn-realplayer",
        ".rjs=application/vnd.rn-realsystem-rjs",
        ".rmx=application/vnd.rn-realsystem-rmx",
        ".rmp=application/vnd.rn-rn_music_package",
        ".rsml=application/vnd.rn-rsml",
        ".vsl=application/x-cnet-vsl",
        ".z=application/x-compress",
        ".tgz=application/x-compressed",
        ".dir=application/x-director",
        ".gz=application/x-gzip",
        ".uin=application/x-icq",
        ".hpf=application/x-icq-hpf",
        ".pnq=application/x-icq-pnq",
        ".scm=application/x-icq-scm",
        ".ins=application/x-internet-signup",
        ".iii=application/x-iphone",
        ".latex=application/x-latex",
        ".nix=application/x-mix-transfer",
        ".wbmp=image/vnd.wap.wbmp",
        ".wml=text/vnd.wap.wml",
        ".wmlc=application/vnd.wap.wmlc",
        ".wmls=text/vnd.wap.wmlscript",
        ".wmlsc=application/vnd.wap.wmlscriptc",
        ".css=text/css",
        ".htm=text/html",
        ".html=text/html",
        ".shtml=server-parsed-html",
        ".xml=text/xml",
        ".sgm=text/sgml",
        ".sgml=text/sgml",
    };
    return lines;
}

void TNetMimeTable::ApplySystemTypes(std::string_view text, TStringList& lines) {
    // Position of each extension's first line, so that a system pair replaces
    // it in place.
    std::unordered_map<std::string, int> at;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& l = lines[i];
        at.emplace(LowerCase(std::string_view(l).substr(0, l.find('='))), i);
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> words = Words(line);
        // A type needs at least one extension; "=" would break the line form.
        if (words.size() < 2 || words[0].find('=') != std::string_view::npos) continue;
        for (size_t w = 1; w < words.size(); ++w) {
            if (words[w].find('=') != std::string_view::npos) continue;
            const std::string ext = NormalExtension(words[w]);
            std::string entry = ext + "=" + std::string(words[0]);
            auto found = at.find(ext);
            if (found != at.end())
                lines.SetString(found->second, std::move(entry));
            else
                at.emplace(ext, lines.Add(std::move(entry)));
        }
    }
}

void TNetMimeTable::BuildDefaultCache() {
    TStringList lines;
    for (const std::string& l : BuiltInLines())
        lines.Add(l);
    if (!systemTypesFile_.empty()) {
        // A missing or unreadable system list leaves the built-in table alone.
        std::ifstream in(systemTypesFile_, std::ios::binary);
        if (in) {
            std::string text;
            text.resize(size_t(kMaxSystemTypesSize) + 1);
            in.read(text.data(), kMaxSystemTypesSize + 1);
            const std::streamsize got = in.gcount();
            if (got <= kMaxSystemTypesSize) {
                text.resize(size_t(got));
                ApplySystemTypes(text, lines);
            }
        }
    }
    LoadFromStrings(lines, '=');
}

void TNetMimeTable::BuildCache() {
    if (OnBuildCache) {
        OnBuildCache(*this);
        return;
    }
    bool empty;
    {
        std::lock_guard<std::mutex> guard(lock_);
        empty = extensions_.empty();
    }
    if (empty) BuildDefaultCache();
}

void TNetMimeTable::AddMimeType(std::string_view extension, std::string_view mimeType) {
    std::lock_guard<std::mutex> guard(lock_);
    AddLocked(LowerCase(extension), LowerCase(mimeType));
}

void TNetMimeTable::AddLocked(std::string extension, std::string mimeType) {
    if (extension.empty()) throw ENetException("Extension is empty");
    if (extension[0] != '.') extension.insert(0, ".");
    if (mimeType.empty()) throw ENetException("Mimetype is empty");
    if (index_.count(extension) != 0) throw ENetException("Extension already exits");
    index_.emplace(extension, extensions_.size());
    extensions_.push_back(std::move(extension));
    mimeTypes_.push_back(std::move(mimeType));
}

void TNetMimeTable::LoadFromStrings(const TStringList& lines, char separator) {
    std::lock_guard<std::mutex> guard(lock_);
    extensions_.clear();
    mimeTypes_.clear();
    index_.clear();
    for (const std::string& line : lines) {
        const size_t at = line.find(separator);
        const std::string ext = NormalExtension(std::string_view(line).substr(0, at));
        if (ext.empty() || index_.count(ext) != 0) continue;
        AddLocked(ext, at == std::string::npos ? std::string() : LowerCase(line.substr(at + 1)));
    }
}

bool TNetMimeTable::LookupLocked(const std::string& extension, std::string& mimeType) const {
    auto found = index_.find(extension);
    if (found == index_.end()) return false;
    mimeType = mimeTypes_[found->second];
    return true;
}

std::string TNetMimeTable::MimeTypeOfFile(std::string_view fileName) {
    // The extension is the file name's, not a dotted folder's.
    const size_t slash = fileName.find_last_of('/');
    const std::string_view base =
        slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const size_t dot = base.rfind('.');
    const std::string ext =
        dot == std::string_view::npos ? std::string() : LowerCase(base.substr(dot));

    std::string type;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (LookupLocked(ext, type)) return type;
    }
    BuildCache();
    std::lock_guard<std::mutex> guard(lock_);
    if (LookupLocked(ext, type)) return type;
    return kUnknownMimeType;
}

int TNetMimeTable::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return int(extensions_.size());
}

std::vector<std::string> TNetMimeTable::Extensions() const {
    std::lock_guard<std::mutex> guard(lock_);
    return extensions_;
}

std::vector<std::string> TNetMimeTable::MimeTypes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return mimeTypes_;
}
