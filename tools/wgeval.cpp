// wgeval: the FVC protocol on a synthetic database. Every impression is enrolled; genuine
// comparisons are all pairs of impressions of a finger (template of the earlier, image of the
// later), impostor comparisons the first impression of each finger against the first of every
// later finger. Probes are given to the matcher in the 16 grey levels of a match template, as
// the client library gives them. Full and small templates are measured alike.
//   wgeval [--fingers N] [--impressions K] [--seed S] [--min-score HUNDREDTHS] [--svg FILE]
//          [--scores FILE]   (form,kind,score per line: full/small, genuine/impostor)
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bii/bii_dll.h"
#include "fingers/synthetic_finger.h"

namespace {

// The client library's default for "CorMtchNA" when the server cannot be asked.
constexpr int kDefaultMinScore = 50;
constexpr float kHistogramTop = 1.4f;
constexpr int kHistogramBins = 14;

using Clock = std::chrono::steady_clock;
using Template = std::array<uint8_t, BII_TEMPLATE_MAX_SIZE>;

struct Options {
  int iFingers = 100;
  int iImpressions = 8;
  uint64_t uiSeed = 1;
  int iMinScore = kDefaultMinScore;
  std::string svg = "wgeval.svg";
  std::string scores;  // every score as CSV, when given
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (arg == "--fingers")
      o.iFingers = std::atoi(value);
    else if (arg == "--impressions")
      o.iImpressions = std::atoi(value);
    else if (arg == "--seed")
      o.uiSeed = std::strtoull(value, nullptr, 10);
    else if (arg == "--min-score")
      o.iMinScore = std::atoi(value);
    else if (arg == "--svg")
      o.svg = value;
    else if (arg == "--scores")
      o.scores = value;
    else
      return false;
  }
  return o.iFingers >= 2 && o.iImpressions >= 2;
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Enroll(const wg_fingers::Bitmap& bitmap, Template& t, float& q1, float& q2) {
  bii_init(8);
  bii_setlim(30);
  bii_setcomp(3);
  bii_setout(0, 0);
  bii_setthresh(0);
  bii_enroll(bitmap.data(), t.data(), &q1, &q2, 8);
}

float Verify(const wg_fingers::Bitmap& probe, const uint8_t* pTemplate) {
  float q = 0, c = 0, s = 0;
  bii_init(8);
  bii_setlim(30);
  bii_setcomp(2);
  bii_setout(0, 0);
  bii_setthresh(0);
  bii_verify(probe.data(), pTemplate, &q, &c, &s, 8);
  return s;
}

struct Rates {
  double fFmr, fFnmr;
};

// The decision of the client library: a match when the score is above the minimum.
Rates RatesAt(const std::vector<float>& genuine, const std::vector<float>& impostor, float t) {
  const auto above = [t](float s) { return s > t; };
  const double fm = static_cast<double>(std::count_if(impostor.begin(), impostor.end(), above));
  const double tm = static_cast<double>(std::count_if(genuine.begin(), genuine.end(), above));
  return {fm / impostor.size(), 1 - tm / genuine.size()};
}

struct Figures {
  double fEer = 0, fFmr100 = 0, fFmr1000 = 0, fFmrAtMin = 0, fFnmrAtMin = 0, fZeroFmr = 0;
  std::vector<Rates> roc;
};

Figures Evaluate(const std::vector<float>& genuine, const std::vector<float>& impostor,
                 float fMinScore) {
  std::vector<float> thresholds(genuine);
  thresholds.insert(thresholds.end(), impostor.begin(), impostor.end());
  thresholds.push_back(-1);
  std::sort(thresholds.begin(), thresholds.end());
  thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
  Figures f;
  f.fFmr100 = f.fFmr1000 = f.fZeroFmr = 1;
  double bestGap = 2;
  for (float t : thresholds) {
    const Rates r = RatesAt(genuine, impostor, t);
    f.roc.push_back(r);
    const double gap = std::fabs(r.fFmr - r.fFnmr);
    if (gap < bestGap) {
      bestGap = gap;
      f.fEer = (r.fFmr + r.fFnmr) / 2;
    }
    if (r.fFmr <= 0.01) f.fFmr100 = std::min(f.fFmr100, r.fFnmr);
    if (r.fFmr <= 0.001) f.fFmr1000 = std::min(f.fFmr1000, r.fFnmr);
    if (r.fFmr == 0) f.fZeroFmr = std::min(f.fZeroFmr, r.fFnmr);
  }
  const Rates atMin = RatesAt(genuine, impostor, fMinScore);
  f.fFmrAtMin = atMin.fFmr;
  f.fFnmrAtMin = atMin.fFnmr;
  return f;
}

std::array<int, kHistogramBins> Histogram(const std::vector<float>& scores) {
  std::array<int, kHistogramBins> bins{};
  for (float s : scores) {
    const int b = static_cast<int>(s / kHistogramTop * kHistogramBins);
    ++bins[std::clamp(b, 0, kHistogramBins - 1)];
  }
  return bins;
}

struct Run {
  const char* pName;
  std::vector<float> genuine, impostor;
  Figures figures;
  double fMeanMatchMs = 0;
};

void Report(const Run& run, const Options& o) {
  const Figures& f = run.figures;
  std::printf("\n%s template: %zu genuine, %zu impostor comparisons\n", run.pName,
              run.genuine.size(), run.impostor.size());
  std::printf("  EER %.2f%%  FMR100 %.2f%%  FMR1000 %.2f%%  ZeroFMR %.2f%%\n", 100 * f.fEer,
              100 * f.fFmr100, 100 * f.fFmr1000, 100 * f.fZeroFmr);
  std::printf("  at minimum score %d: FMR %.3f%%  FNMR %.2f%%\n", o.iMinScore, 100 * f.fFmrAtMin,
              100 * f.fFnmrAtMin);
  std::printf("  mean match time (extraction of the probe included) %.3f ms\n", run.fMeanMatchMs);
  const auto g = Histogram(run.genuine), im = Histogram(run.impostor);
  std::printf("  score        genuine  impostor\n");
  for (int b = 0; b < kHistogramBins; ++b)
    std::printf("  %.1f-%.1f %10d %9d\n", b * kHistogramTop / kHistogramBins,
                (b + 1) * kHistogramTop / kHistogramBins, g[b], im[b]);
}

// Score distributions (left) and the ROC on a logarithmic FMR axis (right), for both forms.
bool WriteSvg(const std::string& path, const std::vector<Run>& runs) {
  FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return false;
  constexpr int kW = 420, kH = 300, kM = 45;
  std::fprintf(out,
               "<svg xmlns='http://www.w3.org/2000/svg' width='%d' height='%d' "
               "font-family='sans-serif' font-size='11'>\n<rect width='100%%' height='100%%' "
               "fill='white'/>\n",
               2 * kW, kH);
  const char* colours[2][2] = {{"#1a7f37", "#cf222e"}, {"#7fbf8f", "#f0a0a0"}};
  // Distributions.
  constexpr int kBins = 56;
  double top = 0;
  std::vector<std::vector<double>> shares;
  for (const Run& run : runs)
    for (const std::vector<float>* set : {&run.genuine, &run.impostor}) {
      std::vector<double> h(kBins, 0);
      for (float s : *set)
        h[std::clamp(static_cast<int>(s / kHistogramTop * kBins), 0, kBins - 1)] +=
            1.0 / set->size();
      top = std::max(top, *std::max_element(h.begin(), h.end()));
      shares.push_back(h);
    }
  std::fprintf(out,
               "<text x='%d' y='15'>score distributions (dark: full, light: small; green genuine, "
               "red impostor)</text>\n",
               kM - 30);
  for (size_t k = 0; k < shares.size(); ++k) {
    std::fprintf(out, "<polyline fill='none' stroke-width='1.5' stroke='%s' points='",
                 colours[k / 2][k % 2]);
    for (int b = 0; b < kBins; ++b)
      std::fprintf(out, "%.1f,%.1f ", kM + (b + 0.5) * (kW - 2 * kM) / kBins,
                   kH - kM - shares[k][b] / top * (kH - 2 * kM));
    std::fprintf(out, "'/>\n");
  }
  std::fprintf(out, "<line x1='%d' y1='%d' x2='%d' y2='%d' stroke='black'/>\n", kM, kH - kM,
               kW - kM, kH - kM);
  for (int t = 0; t <= 14; t += 2)
    std::fprintf(out, "<text x='%.1f' y='%d' text-anchor='middle'>%.1f</text>\n",
                 kM + t / 14.0 * (kW - 2 * kM), kH - kM + 15, t / 10.0);
  std::fprintf(out, "<text x='%d' y='%d' text-anchor='middle'>score</text>\n", kW / 2, kH - 10);
  // ROC: FNMR against log10 FMR from 1e-4 to 1.
  std::fprintf(out, "<text x='%d' y='15'>ROC: FNMR against FMR</text>\n", kW + kM);
  const auto px = [&](double fmr) {
    return kW + kM + (std::log10(std::max(fmr, 1e-4)) + 4) / 4 * (kW - 2 * kM);
  };
  const auto py = [&](double fnmr) { return kH - kM - fnmr * (kH - 2 * kM); };
  for (size_t r = 0; r < runs.size(); ++r) {
    std::fprintf(out, "<polyline fill='none' stroke-width='1.5' stroke='%s' points='",
                 r == 0 ? "#0550ae" : "#8fb8e8");
    for (const Rates& rate : runs[r].figures.roc)
      std::fprintf(out, "%.1f,%.1f ", px(rate.fFmr), py(rate.fFnmr));
    std::fprintf(out, "'/>\n");
  }
  std::fprintf(out, "<rect x='%d' y='%d' width='%d' height='%d' fill='none' stroke='black'/>\n",
               kW + kM, kM, kW - 2 * kM, kH - 2 * kM);
  for (int e = -4; e <= 0; ++e)
    std::fprintf(out, "<text x='%.1f' y='%d' text-anchor='middle'>1e%d</text>\n",
                 px(std::pow(10.0, e)), kH - kM + 15, e);
  for (int v = 0; v <= 100; v += 25)
    std::fprintf(out, "<text x='%d' y='%.1f' text-anchor='end'>%d%%</text>\n", kW + kM - 4,
                 py(v / 100.0) + 4, v);
  std::fprintf(out,
               "<text x='%d' y='%d' text-anchor='middle'>FMR (dark: full, light: small)</text>\n",
               kW + kW / 2, kH - 10);
  std::fprintf(out, "</svg>\n");
  return std::fclose(out) == 0;
}

bool WriteScores(const std::string& path, const std::vector<Run>& runs) {
  FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return false;
  for (const Run& run : runs) {
    for (float s : run.genuine) std::fprintf(out, "%s,genuine,%.4f\n", run.pName, s);
    for (float s : run.impostor) std::fprintf(out, "%s,impostor,%.4f\n", run.pName, s);
  }
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: wgeval [--fingers N] [--impressions K] [--seed S] "
                 "[--min-score HUNDREDTHS] [--svg FILE] [--scores FILE]\n");
    return 2;
  }
  const int n = o.iFingers, k = o.iImpressions;
  std::printf("database: %d fingers x %d impressions, seed %llu\n", n, k,
              static_cast<unsigned long long>(o.uiSeed));
  std::vector<wg_fingers::Bitmap> probes(static_cast<size_t>(n) * k);
  std::vector<Template> templates(probes.size());
  std::vector<Template> small(probes.size());
  double enrollMs = 0;
  int good = 0;
  const auto made = Clock::now();
  for (int f = 0; f < n; ++f) {
    const wg_fingers::Master master = wg_fingers::MakeMaster(wg_fingers::FingerSeed(o.uiSeed, f));
    for (int i = 0; i < k; ++i) {
      const wg_fingers::Image image = wg_fingers::MakeImpression(master, i);
      const size_t at = static_cast<size_t>(f) * k + i;
      probes[at] = wg_fingers::ToMatcherBitmap(image, true);
      const wg_fingers::Bitmap reference = wg_fingers::ToMatcherBitmap(image, false);
      float q1 = 0, q2 = 0;
      const auto start = Clock::now();
      Enroll(reference, templates[at], q1, q2);
      enrollMs += Milliseconds(Clock::now() - start);
      good += q1 > 0.5f && q2 > 0.3f;
      small[at] = templates[at];
      small[at][BII_TEMPLATE_FORM_OFFSET] = BII_SMALL_TEMPLATE_FORM;
      std::fill(small[at].begin() + BII_SMALL_TEMPLATE_SIZE, small[at].end(), 0);
    }
  }
  std::printf(
      "database made and enrolled in %.1f s; mean build time %.3f ms; good builds %d of %zu\n",
      Milliseconds(Clock::now() - made) / 1000, enrollMs / probes.size(), good, probes.size());

  std::vector<Run> runs = {{"full", {}, {}, {}, 0}, {"small", {}, {}, {}, 0}};
  for (int r = 0; r < 2; ++r) {
    const std::vector<Template>& set = r == 0 ? templates : small;
    Run& run = runs[r];
    double matchMs = 0;
    const auto compare = [&](size_t t, size_t p) {
      const auto start = Clock::now();
      const float s = Verify(probes[p], set[t].data());
      matchMs += Milliseconds(Clock::now() - start);
      return s;
    };
    for (int f = 0; f < n; ++f)
      for (int i = 0; i < k; ++i)
        for (int j = i + 1; j < k; ++j)
          run.genuine.push_back(
              compare(static_cast<size_t>(f) * k + i, static_cast<size_t>(f) * k + j));
    for (int f = 0; f < n; ++f)
      for (int g = f + 1; g < n; ++g)
        run.impostor.push_back(compare(static_cast<size_t>(f) * k, static_cast<size_t>(g) * k));
    run.fMeanMatchMs = matchMs / (run.genuine.size() + run.impostor.size());
    run.figures = Evaluate(run.genuine, run.impostor, o.iMinScore / 100.0f);
    Report(run, o);
  }
  if (!WriteSvg(o.svg, runs)) {
    std::fprintf(stderr, "wgeval: cannot write %s\n", o.svg.c_str());
    return 1;
  }
  std::printf("\npicture: %s\n", o.svg.c_str());
  if (!o.scores.empty() && !WriteScores(o.scores, runs)) {
    std::fprintf(stderr, "wgeval: cannot write %s\n", o.scores.c_str());
    return 1;
  }
  return 0;
}
