#include "update/core/BaseUrl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Stands for the built-in server address (assembled by the update dialog).
const std::string kServer = "updates.example.invalid";

struct Case {
    const char *name;
    std::string source;
    bool staging;
    bool preview;
    std::string target; // targetBaseUrl
    std::string host;   // hostBaseUrl
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

const Case kCases[] = {
    {"marker_with_path", "certificarono:fw/model1", false, false, "https://" + kServer + "/fw/model1/",
     "https://" + kServer + "/fw/model1/"},
    {"marker_any_separator", "certificaronoXfw/", false, false, "https://" + kServer + "/fw/",
     "https://" + kServer + "/fw/"},
    {"marker_alone", "certificarono", false, false, "https://" + kServer + "/", "https://" + kServer + "/"},
    {"marker_and_separator_only", "certificarono/", false, false, "https://" + kServer + "/",
     "https://" + kServer + "/"},
    {"marker_alone_staging", "certificarono", true, false, "https://" + kServer + "/staging/",
     "https://" + kServer + "/staging/"},
    {"http_gets_slash", "http://10.0.0.1/fw", false, false, "http://10.0.0.1/fw/", "http://10.0.0.1/fw/"},
    {"https_keeps_single_slash", "https://h/fw/", false, false, "https://h/fw/", "https://h/fw/"},
    {"staging", "http://h/fw", true, false, "http://h/fw/staging/", "http://h/fw/staging/"},
    {"preview", "http://h/fw/", false, true, "http://h/fw/preview/", "http://h/fw/preview/"},
    {"staging_wins_over_preview", "http://h/fw", true, true, "http://h/fw/staging/", "http://h/fw/staging/"},
    {"marker_staging_and_preview", "certificarono:a", true, true, "https://" + kServer + "/a/staging/",
     "https://" + kServer + "/a/staging/"},
    // Only targets need a scheme; the driver's host text is taken as it is.
    {"no_scheme", "ftp://h/fw", false, false, "", "ftp://h/fw/"},
    {"scheme_case_sensitive", "HTTP://h/fw", false, true, "", "HTTP://h/fw/preview/"},
    {"bare_path", "fw/model1", true, false, "", "fw/model1/staging/"},
    {"marker_not_at_start", "xcertificarono:a", false, false, "", "xcertificarono:a/"},
    {"marker_prefix_only", "certificaron", false, false, "", "certificaron/"},
    {"empty_stays_empty", "", true, true, "", ""},
};

class BaseUrl : public ::testing::TestWithParam<Case> {};

TEST_P(BaseUrl, ResolvesAndNormalises)
{
    const Case &c = GetParam();
    EXPECT_EQ(update::targetBaseUrl(c.source, kServer, c.staging, c.preview), c.target);
    EXPECT_EQ(update::hostBaseUrl(c.source, kServer, c.staging, c.preview), c.host);
}

INSTANTIATE_TEST_SUITE_P(Table, BaseUrl, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BaseUrlParts, ResolveWithoutNormalising)
{
    EXPECT_EQ(update::resolveTargetSource("http://h/fw", kServer), "http://h/fw");
    EXPECT_EQ(update::resolveTargetSource("certificarono", kServer), "https://" + kServer + "/");
    EXPECT_EQ(update::resolveUpdateHost("anything", kServer), "anything");
    EXPECT_EQ(update::normaliseBaseUrl("/", false, false), "/");
}

TEST(BaseUrlParts, ListLiesBelowNormalisedBase)
{
    EXPECT_EQ(update::updateListUrl(update::targetBaseUrl("http://h/fw", kServer, true, true)),
              "http://h/fw/staging/updatelist");
    // A target without a usable source asks for the bare path, which fails.
    EXPECT_EQ(update::updateListUrl(update::targetBaseUrl("tftp://x", kServer, false, false)), "updatelist");
}

} // namespace
