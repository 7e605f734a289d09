// ocr.exe: the OCR engine as Sheetmend starts it, on top of Debian's
// tesseract.
//
//   ocr.exe INPUT OUTPUTBASE [-l LANG] HOCR
//   ocr.exe INPUT OUTPUTBASE OSD
//
// Runs tesseract on INPUT with hOCR output, its language data taken from the
// "tessdata" folder under TESSDATA_PREFIX, and rewrites the result into
// OUTPUTBASE.html in the shape Sheetmend's hOCR reader expects: every line
// an element of class "ocr_line" that keeps its title, every word an element
// of class "ocr_word" titled "bbox x0 y0 x1 y1" with the word's text in an
// inner element. Tesseract marks some lines as headers, captions or floating
// text; those are lines too. The file appears whole or not at all.
//
// With OSD it runs tesseract's orientation and script detection (page
// segmentation mode 0, the "osd" data) instead and leaves tesseract's
// report as OUTPUTBASE.osd ("Rotate: N" turns the page upright when it is
// turned N degrees clockwise); a page whose orientation the engine cannot
// tell leaves no file and a non-zero exit status.
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef SHEETMEND_TESSERACT
#define SHEETMEND_TESSERACT "tesseract"
#endif

extern char** environ;

namespace {

using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

int Usage() {
    std::fprintf(stderr,
                 "usage: ocr.exe INPUT OUTPUTBASE [-l LANG] HOCR\n"
                 "       ocr.exe INPUT OUTPUTBASE OSD\n");
    return 2;
}

// Runs tesseract and waits for it; with `quiet` its diagnostics (which the
// detection prints for every page without enough text) go nowhere.
int RunTesseract(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        std::fprintf(stderr, "ocr.exe: cannot start %s\n", argv[0]);
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HasClass(const XMLElement* e, const char* const* names) {
    const char* cls = e->Attribute("class");
    if (!cls) return false;
    for (; *names; ++names)
        if (strcasecmp(cls, *names) == 0) return true;
    return false;
}

const char* const kLineClasses[] = {"ocr_line", "ocr_header", "ocr_caption", "ocr_textfloat",
                                    nullptr};
const char* const kWordClasses[] = {"ocrx_word", "ocr_word", nullptr};
const char* const kPageClasses[] = {"ocr_page", nullptr};

// The "bbox x0 y0 x1 y1" part of a title such as "bbox 1 2 3 4; x_wconf 96".
std::string BoxOfTitle(const char* title) {
    if (!title) return "bbox 0 0 0 0";
    const char* bbox = std::strstr(title, "bbox ");
    if (!bbox) return "bbox 0 0 0 0";
    const char* end = std::strchr(bbox, ';');
    return end ? std::string(bbox, static_cast<size_t>(end - bbox)) : std::string(bbox);
}

// The "; x_wconf 96" part of a word's title, or "" when it has none.
std::string ConfidenceOfTitle(const char* title) {
    const char* wconf = title ? std::strstr(title, "x_wconf ") : nullptr;
    if (!wconf) return "";
    const char* end = std::strchr(wconf, ';');
    return "; " + (end ? std::string(wconf, static_cast<size_t>(end - wconf)) : std::string(wconf));
}

// All text below a node, in document order.
void CollectText(const XMLNode* node, std::string& text) {
    for (const XMLNode* c = node->FirstChild(); c; c = c->NextSibling()) {
        if (const tinyxml2::XMLText* t = c->ToText())
            text += t->Value();
        else
            CollectText(c, text);
    }
}

class Rewriter {
  public:
    explicit Rewriter(tinyxml2::XMLDocument& out) : out_(out) {}

    // Walks the tesseract document; `target` is where words go right now.
    void Walk(const XMLElement* e, XMLElement* target) {
        for (const XMLElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
            if (HasClass(c, kWordClasses)) {
                AddWord(c, target);
            } else if (HasClass(c, kLineClasses)) {
                XMLElement* line = out_.NewElement("span");
                line->SetAttribute("class", "ocr_line");
                line->SetAttribute("title", c->Attribute("title") ? c->Attribute("title") : "");
                page_->InsertEndChild(line);
                Walk(c, line);
            } else if (HasClass(c, kPageClasses) && page_ == body_) {
                page_ = out_.NewElement("div");
                page_->SetAttribute("class", "ocr_page");
                page_->SetAttribute("title", c->Attribute("title") ? c->Attribute("title") : "");
                body_->InsertEndChild(page_);
                Walk(c, page_);
                page_ = body_;
            } else {
                Walk(c, target);
            }
        }
    }

    XMLElement* body_ = nullptr;
    XMLElement* page_ = nullptr;

  private:
    void AddWord(const XMLElement* word, XMLElement* target) {
        std::string text;
        CollectText(word, text);
        if (text.find_first_not_of(" \t\r\n") == std::string::npos) return;
        XMLElement* w = out_.NewElement("span");
        w->SetAttribute("class", "ocr_word");
        w->SetAttribute("title", (BoxOfTitle(word->Attribute("title")) +
                                  ConfidenceOfTitle(word->Attribute("title")))
                                     .c_str());
        XMLElement* inner = out_.NewElement("span");
        inner->SetText(text.c_str());
        w->InsertEndChild(inner);
        target->InsertEndChild(w);
    }

    tinyxml2::XMLDocument& out_;
};

// The tesseract command line's start: the program, input, output base and
// the data folder under TESSDATA_PREFIX when that is set.
std::vector<std::string> TesseractCommand(const std::string& input, const std::string& base) {
    std::vector<std::string> tess = {SHEETMEND_TESSERACT, input, base};
    if (const char* prefix = std::getenv("TESSDATA_PREFIX"); prefix && *prefix) {
        std::string dir = prefix;
        if (dir.back() != '/') dir += '/';
        tess.insert(tess.end(), {"--tessdata-dir", dir + "tessdata"});
    }
    return tess;
}

int DetectOrientation(const std::string& input, const std::string& outputBase) {
    std::vector<std::string> tess = TesseractCommand(input, outputBase + ".tesseract");
    tess.insert(tess.end(), {"--psm", "0", "-l", "osd"});
    const int status = RunTesseract(tess, true);
    const std::string produced = outputBase + ".tesseract.osd";
    if (status != 0 || rename(produced.c_str(), (outputBase + ".osd").c_str()) != 0) {
        unlink(produced.c_str());
        return status == 0 ? 1 : (status < 0 ? 1 : status);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && strcasecmp(args[2].c_str(), "OSD") == 0)
        return DetectOrientation(args[0], args[1]);
    if (args.size() < 3 || strcasecmp(args.back().c_str(), "HOCR") != 0) return Usage();
    const std::string input = args[0];
    const std::string outputBase = args[1];
    std::string language;
    for (size_t i = 2; i + 1 < args.size(); ++i) {
        if (args[i] == "-l" && i + 2 < args.size())
            language = args[++i];
        else
            return Usage();
    }

    std::vector<std::string> tess = TesseractCommand(input, outputBase + ".tesseract");
    if (!language.empty()) tess.insert(tess.end(), {"-l", language});
    // Asked for by setting rather than by the "hocr" configuration file, which
    // lives in the system's data folder and not in ours.
    tess.insert(tess.end(), {"-c", "tessedit_create_hocr=1", "-c", "tessedit_create_txt=0"});
    const int status = RunTesseract(tess);
    const std::string produced = outputBase + ".tesseract.hocr";
    if (status != 0) {
        unlink(produced.c_str());
        return status < 0 ? 1 : status;
    }

    tinyxml2::XMLDocument in;
    if (in.LoadFile(produced.c_str()) != tinyxml2::XML_SUCCESS) {
        std::fprintf(stderr, "ocr.exe: cannot read tesseract's output: %s\n", in.ErrorStr());
        unlink(produced.c_str());
        return 1;
    }
    unlink(produced.c_str());

    tinyxml2::XMLDocument out;
    out.InsertEndChild(out.NewDeclaration());
    XMLElement* html = out.NewElement("html");
    html->SetAttribute("xmlns", "http://www.w3.org/1999/xhtml");
    out.InsertEndChild(html);
    XMLElement* head = out.NewElement("head");
    head->InsertEndChild(out.NewElement("title"));
    html->InsertEndChild(head);
    XMLElement* body = out.NewElement("body");
    html->InsertEndChild(body);
    Rewriter rewriter(out);
    rewriter.body_ = body;
    rewriter.page_ = body;
    if (const XMLElement* root = in.RootElement()) rewriter.Walk(root, body);

    const std::string part = outputBase + ".html.part";
    const std::string final = outputBase + ".html";
    if (out.SaveFile(part.c_str()) != tinyxml2::XML_SUCCESS ||
        rename(part.c_str(), final.c_str())) {
        std::fprintf(stderr, "ocr.exe: cannot write %s\n", final.c_str());
        unlink(part.c_str());
        return 1;
    }
    return 0;
}
