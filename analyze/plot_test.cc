#include "analyze/plot.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "analyze/text.h"

namespace dawnstep::analyze {
namespace {

// A strict reader for the XML subset an SVG file needs: one root element,
// quoted attributes, the five named entities and character references. It
// throws on anything malformed.
struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::vector<Element> children;
  std::string text;
};

class XmlReader {
 public:
  explicit XmlReader(std::string text) : doc(std::move(text)) {}

  Element Document() {
    if (ValidUtf8(doc) != doc) Fail("not UTF-8");
    if (doc.compare(0, 5, "<?xml") == 0) pos = doc.find("?>") + 2;
    SkipBlanks();
    Element root = ReadElement();
    SkipBlanks();
    if (pos != doc.size()) Fail("content after the root element");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    throw std::runtime_error(why + " at offset " + std::to_string(pos));
  }
  void SkipBlanks() {
    while (pos < doc.size() && isspace(static_cast<unsigned char>(doc[pos]))) ++pos;
  }
  void Expect(char c) {
    if (pos >= doc.size() || doc[pos] != c) Fail(std::string("expected ") + c);
    ++pos;
  }
  std::string Name() {
    size_t start = pos;
    while (pos < doc.size() && (isalnum(static_cast<unsigned char>(doc[pos])) || doc[pos] == '-' ||
                                doc[pos] == ':' || doc[pos] == '_')) {
      ++pos;
    }
    if (pos == start) Fail("expected a name");
    return doc.substr(start, pos - start);
  }
  // Character data up to `end`, entities decoded.
  std::string Characters(char end) {
    std::string text;
    while (pos < doc.size() && doc[pos] != end) {
      char c = doc[pos++];
      if (c == '<') Fail("raw <");
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
        Fail("control character");
      }
      if (c != '&') {
        text += c;
        continue;
      }
      size_t semicolon = doc.find(';', pos);
      if (semicolon == std::string::npos) Fail("unterminated entity");
      std::string entity = doc.substr(pos, semicolon - pos);
      static const std::map<std::string, char> named = {
          {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
      if (named.count(entity) == 0) Fail("unknown entity " + entity);
      text += named.at(entity);
      pos = semicolon + 1;
    }
    return text;
  }
  Element ReadElement() {
    Expect('<');
    Element element{Name(), {}, {}, ""};
    for (;;) {
      SkipBlanks();
      if (pos < doc.size() && doc[pos] == '/') {
        ++pos;
        Expect('>');
        return element;
      }
      if (pos < doc.size() && doc[pos] == '>') break;
      std::string attribute = Name();
      Expect('=');
      Expect('"');
      std::string value = Characters('"');
      Expect('"');
      if (!element.attributes.emplace(attribute, value).second) Fail("repeated attribute");
    }
    ++pos;
    for (;;) {
      element.text += Characters('<');
      if (doc.compare(pos, 2, "</") == 0) break;
      element.children.push_back(ReadElement());
    }
    pos += 2;
    if (Name() != element.name) Fail("mismatched end tag");
    Expect('>');
    return element;
  }

  std::string doc;
  size_t pos = 0;
};

void Collect(const Element& element, const std::string& name, std::vector<const Element*>& out) {
  if (element.name == name) out.push_back(&element);
  for (const Element& child : element.children) Collect(child, name, out);
}

std::vector<const Element*> All(const Element& root, const std::string& name) {
  std::vector<const Element*> found;
  Collect(root, name, found);
  return found;
}

TEST(PlotTest, XmlReaderRejectsMalformedDocuments) {
  for (const char* bad : {"<a>", "<a></b>", "<a b=\"<\"/>", "<a>&nope;</a>", "<a/><b/>",
                          "<a>\x01</a>", "<a>\xFF</a>", "<a b=\"1\" b=\"2\"/>"}) {
    EXPECT_THROW(XmlReader(bad).Document(), std::runtime_error) << bad;
  }
  Element ok = XmlReader("<?xml version=\"1.0\"?>\n<a x=\"&lt;1&gt;\"><b/>t&amp;</a>\n").Document();
  EXPECT_EQ("<1>", ok.attributes.at("x"));
  EXPECT_EQ("t&", ok.text);
}

TEST(PlotTest, OneBarPerRecordWithReadableNamesAndTheChainHighlighted) {
  BootProfile profile;
  profile.start = 0;
  profile.end = 2500000;
  std::string odd = "a<b>&\"'c";
  profile.activations = {{"late", 2000000, 2400000},
                         {odd, 0, 1000000},
                         {"bad\xFFutf8", 500000, 500000},
                         {"late", 1000000, 2000000}};
  std::vector<ChainLink> chain = {{&profile.activations[0], "", false},
                                  {&profile.activations[3], "t", false}};
  std::ostringstream out;
  WritePlot(profile, chain, out);
  Element svg = XmlReader(out.str()).Document();
  EXPECT_EQ("svg", svg.name);

  std::vector<std::string> bars, names, captions;
  size_t critical = 0;
  for (const Element* rect : All(svg, "rect")) {
    std::string cls = rect->attributes.count("class") ? rect->attributes.at("class") : "";
    if (cls != "bar" && cls != "bar critical") continue;
    bars.push_back(rect->children.at(0).text);
    if (cls == "bar critical") ++critical;
    EXPECT_GE(std::stod(rect->attributes.at("width")), 1.0);
  }
  for (const Element* text : All(svg, "text")) {
    if (text->attributes.count("class") && text->attributes.at("class") == "name") {
      names.push_back(text->text);
    }
    if (text->attributes.count("class") && text->attributes.at("class") == "caption") {
      captions.push_back(text->text);
      // Below the last row, inside the picture.
      EXPECT_GT(std::stod(text->attributes.at("y")), 56 + 4 * 20);
      EXPECT_LT(std::stod(text->attributes.at("y")), std::stod(svg.attributes.at("height")));
    }
  }
  EXPECT_EQ(std::vector<std::string>{"time since activation started (ms)"}, captions);
  // Rows in order of start; the zero-length record still gets a bar.
  EXPECT_EQ((std::vector<std::string>{odd, "bad\xEF\xBF\xBDutf8", "late", "late"}), names);
  ASSERT_EQ(4u, bars.size());
  EXPECT_EQ(odd + ": start +0.000 ms, took 1000.000 ms", bars[0]);
  EXPECT_EQ(2u, critical);

  std::vector<std::string> ticks;
  for (const Element* group : All(svg, "g")) {
    for (const Element* text : All(*group, "text")) ticks.push_back(text->text);
  }
  EXPECT_EQ(
      (std::vector<std::string>{"0 ms", "500 ms", "1000 ms", "1500 ms", "2000 ms", "2500 ms"}),
      ticks);
}

TEST(PlotTest, AnEmptyBootIsStillAPicture) {
  std::ostringstream out;
  WritePlot(BootProfile(), {}, out);
  Element svg = XmlReader(out.str()).Document();
  EXPECT_EQ(1u, All(svg, "rect").size());  // the background only
}

TEST(PlotTest, TickStepsAreOneTwoOrFiveTimesAPowerOfTen) {
  EXPECT_EQ(1, TickStep(1));
  EXPECT_EQ(100, TickStep(1000));
  EXPECT_EQ(200, TickStep(1001));
  EXPECT_EQ(500, TickStep(2001));
  EXPECT_EQ(1000, TickStep(5001));
  EXPECT_EQ(500000, TickStep(2500000));
  EXPECT_EQ(1000000000, TickStep(9999999999));
}

}  // namespace
}  // namespace dawnstep::analyze
