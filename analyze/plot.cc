#include "analyze/plot.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>

#include "analyze/text.h"

namespace dawnstep::analyze {
namespace {

const double kCharWidth = 7.3;  // of the 12px monospace font
const double kChartWidth = 960;
const double kRowHeight = 20;
const double kBarHeight = 14;
const double kTop = 76;           // title, legend and axis labels above the rows
const double kBottom = 50;        // axis labels and caption below the rows
const double kRightMargin = 110;  // room for the last duration label
const Micros kMinimumSpan = 1000;

// One colour per outcome, in the order of kAllOutcomes, then unknown.
const char* const kColours[] = {"#5b8db8", "#c8423b", "#9e9e9e", "#b39ddb",
                                "#e08a3c", "#d7c26a", "#333333", "#78909c"};

std::string OutcomeClass(const std::optional<Outcome>& outcome) {
  return "outcome-" + OutcomeText(outcome);
}

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string TickLabel(Micros value, Micros step) {
  if (step % 1000 == 0) return std::to_string(value / 1000) + " ms";
  return FormatMillis(value) + " ms";
}

struct Layout {
  Micros origin;
  Micros span;
  double labelWidth;
  double X(Micros time) const {
    return labelWidth + static_cast<double>(time - origin) * kChartWidth / span;
  }
};

Layout MakeLayout(const BootProfile& profile) {
  Micros origin = profile.Origin();
  Micros last = profile.end.value_or(origin);
  size_t longest = 0;
  for (const Activation& record : profile.activations) {
    last = std::max(last, record.end);
    longest = std::max(longest, CodePoints(ValidUtf8(record.name)));
  }
  return {origin, std::max(last - origin, kMinimumSpan), 16 + longest * kCharWidth};
}

void WriteAxis(const Layout& layout, double rowsHeight, std::ostream& out) {
  Micros step = TickStep(layout.span);
  double bottom = kTop + rowsHeight;
  out << "<g class=\"axis\">\n";
  for (Micros tick = 0; tick <= layout.span; tick += step) {
    std::string x = Number(layout.X(layout.origin + tick));
    out << "<line x1=\"" << x << "\" y1=\"" << kTop - 6 << "\" x2=\"" << x << "\" y2=\"" << bottom
        << "\"/>\n"
        << "<text x=\"" << x << "\" y=\"" << kTop - 10 << "\" text-anchor=\"middle\">"
        << TickLabel(tick, step) << "</text>\n"
        << "<text x=\"" << x << "\" y=\"" << Number(bottom + 16) << "\" text-anchor=\"middle\">"
        << TickLabel(tick, step) << "</text>\n";
  }
  out << "</g>\n"
      << "<text class=\"caption\" x=\"" << Number(layout.labelWidth + kChartWidth / 2) << "\" y=\""
      << Number(bottom + 38)
      << "\" text-anchor=\"middle\">time since activation started (ms)</text>\n";
}

void WriteBar(const Activation& record, const std::optional<Outcome>& outcome,
              const Layout& layout, double y, bool critical, std::ostream& out) {
  std::string name = XmlEscape(record.name);
  std::string took = FormatMillis(record.Duration()) + " ms";
  double x = layout.X(record.start);
  double width = std::max(1.0, layout.X(record.end) - x);
  out << "<text class=\"name\" x=\"" << Number(layout.labelWidth - 6) << "\" y=\""
      << Number(y + kBarHeight - 3) << "\" text-anchor=\"end\">" << name << "</text>\n"
      << "<rect class=\"bar " << OutcomeClass(outcome) << (critical ? " critical" : "")
      << "\" x=\"" << Number(x) << "\" y=\""
      << Number(y) << "\" width=\"" << Number(width) << "\" height=\"" << kBarHeight << "\"><title>"
      << name << " (" << OutcomeText(outcome) << "): start +"
      << FormatMillis(record.start - layout.origin) << " ms, took " << took
      << "</title></rect>\n"
      << "<text class=\"duration\" x=\"" << Number(x + width + 4) << "\" y=\""
      << Number(y + kBarHeight - 3) << "\">" << took << "</text>\n";
}

// A swatch and a name for each outcome that occurs.
void WriteLegend(const std::map<std::string, std::optional<Outcome>>& outcomes, std::ostream& out) {
  std::set<std::string> present;
  for (const auto& [name, outcome] : outcomes) present.insert(OutcomeClass(outcome));
  double x = 10;
  out << "<g class=\"legend\">\n";
  for (size_t i = 0; i < std::size(kColours); ++i) {
    std::optional<Outcome> outcome;
    if (i < std::size(kAllOutcomes)) outcome = kAllOutcomes[i];
    if (present.count(OutcomeClass(outcome)) == 0) continue;
    std::string label = OutcomeText(outcome);
    out << "<rect class=\"" << OutcomeClass(outcome) << "\" x=\"" << Number(x)
        << "\" y=\"28\" width=\"12\" height=\"12\"/>\n"
        << "<text x=\"" << Number(x + 16) << "\" y=\"38\">" << label << "</text>\n";
    x += 16 + label.size() * kCharWidth + 16;
  }
  out << "</g>\n";
}

}  // namespace

Micros TickStep(Micros span) {
  for (Micros power = 1;; power *= 10) {
    for (Micros factor : {1, 2, 5}) {
      if (span <= 10 * factor * power) return factor * power;
    }
  }
}

void WritePlot(const Boot& boot, const std::vector<ChainLink>& chain, std::ostream& out) {
  const BootProfile& profile = boot.profile;
  std::vector<const Activation*> rows;
  std::map<std::string, std::optional<Outcome>> outcomes;
  for (const PluginRun& run : boot.plugins) outcomes[run.name] = run.outcome;
  for (const Activation& record : profile.activations) rows.push_back(&record);
  std::stable_sort(rows.begin(), rows.end(), [](const Activation* a, const Activation* b) {
    if (a->start != b->start) return a->start < b->start;
    return a->name < b->name;
  });
  std::set<const Activation*> critical;
  for (const ChainLink& link : chain) critical.insert(link.activation);

  Layout layout = MakeLayout(profile);
  double rowsHeight = rows.size() * kRowHeight;
  double width = layout.labelWidth + kChartWidth + kRightMargin;
  double height = kTop + rowsHeight + kBottom;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Number(width) << "\" height=\""
      << Number(height) << "\" viewBox=\"0 0 " << Number(width) << ' ' << Number(height) << "\">\n"
      << "<style>\n"
      << "text { font: 12px monospace; fill: #222; }\n"
      << ".axis line { stroke: #ddd; }\n"
      << ".bar.critical { stroke: #000; stroke-width: 2; }\n";
  for (size_t i = 0; i < std::size(kColours); ++i) {
    std::optional<Outcome> outcome;
    if (i < std::size(kAllOutcomes)) outcome = kAllOutcomes[i];
    out << "." << OutcomeClass(outcome) << " { fill: " << kColours[i] << "; }\n";
  }
  out << "</style>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"10\" y=\"18\">Plugin activations (" << rows.size() << ") of the boot at "
      << (profile.start ? FormatProfileTime(*profile.start).substr(0, 19) + " UTC"
                        : std::string("an unknown time"))
      << "; the critical chain is outlined</text>\n";
  WriteLegend(outcomes, out);
  WriteAxis(layout, rowsHeight, out);
  for (size_t row = 0; row < rows.size(); ++row) {
    WriteBar(*rows[row], outcomes[rows[row]->name], layout, kTop + row * kRowHeight + 3,
             critical.count(rows[row]) != 0, out);
  }
  out << "</svg>\n";
}

}  // namespace dawnstep::analyze
