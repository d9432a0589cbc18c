// koru-text-to-pdf INPUT.txt OUTPUT.pdf: lays out a plain-text manual as an
// A4 PDF with the standard Helvetica faces (no font files needed, nothing
// embedded). Input lines: "= Title", "## Heading", "- bullet item",
// blank line = paragraph break, other lines are joined into paragraphs.
// Only printable ASCII is accepted, so the text needs no font encoding.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kPageWidth = 595.0, kPageHeight = 842.0, kMargin = 64.0;
constexpr double kBodySize = 10.5, kHeadingSize = 13.0, kTitleSize = 20.0;
// Characters per line at body size: Helvetica averages about half an em.
constexpr double kAverageEm = 0.46;

struct Block {
    enum Kind { Title, Heading, Paragraph, Bullet } kind;
    std::string text;
};

std::string escapePdf(const std::string &s)
{
    std::string out;
    for (char c : s) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> wrap(const std::string &text, size_t width)
{
    std::vector<std::string> lines;
    std::istringstream words(text);
    std::string word, line;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

bool readBlocks(const char *path, std::vector<Block> &blocks, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot read ") + path;
        return false;
    }
    std::string line;
    int number = 0;
    bool inParagraph = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        for (unsigned char c : line)
            if (c < 0x20 || c > 0x7e) {
                error =
                    std::string(path) + ":" + std::to_string(number) + ": only printable ASCII is allowed";
                return false;
            }
        if (line.find_first_not_of(' ') == std::string::npos) {
            inParagraph = false;
        } else if (line.rfind("= ", 0) == 0) {
            blocks.push_back({Block::Title, line.substr(2)});
            inParagraph = false;
        } else if (line.rfind("## ", 0) == 0) {
            blocks.push_back({Block::Heading, line.substr(3)});
            inParagraph = false;
        } else if (line.rfind("- ", 0) == 0) {
            blocks.push_back({Block::Bullet, line.substr(2)});
            inParagraph = true;
        } else if (inParagraph) {
            blocks.back().text += " " + line;
        } else {
            blocks.push_back({Block::Paragraph, line});
            inParagraph = true;
        }
    }
    if (blocks.empty()) {
        error = std::string(path) + ": no text";
        return false;
    }
    return true;
}

// One content stream per page.
class PageWriter {
public:
    std::vector<std::string> pages;

    void text(const char *font, double size, double x, const std::string &s, double advance)
    {
        if (pages.empty() || y_ - advance < kMargin)
            newPage();
        y_ -= advance;
        char head[96];
        std::snprintf(head, sizeof head, "BT /%s %.1f Tf %.1f %.1f Td (", font, size, x, y_);
        pages.back() += head + escapePdf(s) + ") Tj ET\n";
    }
    void space(double dy)
    {
        if (!pages.empty())
            y_ -= dy;
    }

private:
    void newPage()
    {
        pages.emplace_back();
        y_ = kPageHeight - kMargin;
    }
    double y_ = 0;
};

std::string buildPdf(const std::vector<std::string> &pageStreams, const std::string &title)
{
    std::string pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    std::vector<size_t> offsets;
    auto object = [&](const std::string &body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    const size_t pageCount = pageStreams.size();
    std::string kids;
    for (size_t i = 0; i < pageCount; ++i)
        kids += std::to_string(6 + 2 * i) + " 0 R ";
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pageCount) + " >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>");
    object("<< /Title (" + escapePdf(title) + ") /Producer (koru-text-to-pdf) >>");
    for (size_t i = 0; i < pageCount; ++i) {
        char footer[160];
        std::snprintf(footer, sizeof footer, "BT /F1 8.0 Tf %.1f %.1f Td (%s - page %zu of %zu) Tj ET\n",
                      kMargin, kMargin / 2, escapePdf(title).c_str(), i + 1, pageCount);
        const std::string stream = pageStreams[i] + footer;
        char mediaBox[64];
        std::snprintf(mediaBox, sizeof mediaBox, "[0 0 %.0f %.0f]", kPageWidth, kPageHeight);
        object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + mediaBox +
               " /Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> /Contents " + std::to_string(7 + 2 * i) +
               " 0 R >>");
        object("<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "endstream");
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
           " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: koru-text-to-pdf INPUT.txt OUTPUT.pdf\n";
        return 2;
    }
    std::vector<Block> blocks;
    std::string error;
    if (!readBlocks(argv[1], blocks, error)) {
        std::cerr << "koru-text-to-pdf: " << error << "\n";
        return 1;
    }
    const double textWidth = kPageWidth - 2 * kMargin;
    const auto columns = [&](double size, double indent) {
        return size_t((textWidth - indent) / (size * kAverageEm));
    };
    PageWriter out;
    std::string title = "Manual";
    for (const Block &b : blocks) {
        switch (b.kind) {
        case Block::Title:
            title = b.text;
            for (const std::string &l : wrap(b.text, columns(kTitleSize, 0)))
                out.text("F2", kTitleSize, kMargin, l, kTitleSize * 1.3);
            out.space(kBodySize);
            break;
        case Block::Heading:
            out.space(kBodySize * 0.6);
            for (const std::string &l : wrap(b.text, columns(kHeadingSize, 0)))
                out.text("F2", kHeadingSize, kMargin, l, kHeadingSize * 1.35);
            out.space(kBodySize * 0.3);
            break;
        case Block::Paragraph:
            for (const std::string &l : wrap(b.text, columns(kBodySize, 0)))
                out.text("F1", kBodySize, kMargin, l, kBodySize * 1.35);
            out.space(kBodySize * 0.5);
            break;
        case Block::Bullet: {
            const double indent = 14;
            bool first = true;
            for (const std::string &l : wrap(b.text, columns(kBodySize, indent))) {
                out.text("F1", kBodySize, kMargin + indent, l, kBodySize * 1.35);
                if (first)
                    out.text("F1", kBodySize, kMargin + 3, "-", 0);
                first = false;
            }
            out.space(kBodySize * 0.2);
            break;
        }
        }
    }
    const std::string pdf = buildPdf(out.pages, title);
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file.write(pdf.data(), std::streamsize(pdf.size()));
    file.close();
    if (!file) {
        std::cerr << "koru-text-to-pdf: cannot write " << argv[2] << "\n";
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
