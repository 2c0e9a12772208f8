#pragma once

#include <gtest/gtest.h>

#include <string>

// EXPECT_TRUE(textContains(text, part)) and EXPECT_TRUE(textLacks(text,
// part)): a failure shows the part and the whole text that was searched,
// not only "false".

inline ::testing::AssertionResult textContains(const std::string &text, const std::string &part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in the text:\n" << text;
}

inline ::testing::AssertionResult textLacks(const std::string &text, const std::string &part)
{
    const size_t at = text.find(part);
    if (at == std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is in the text at offset " << at << ":\n"
                                         << text;
}

#ifdef QT_CORE_LIB
#include <QString>

inline ::testing::AssertionResult textContains(const QString &text, const QString &part)
{
    return textContains(text.toStdString(), part.toStdString());
}

inline ::testing::AssertionResult textLacks(const QString &text, const QString &part)
{
    return textLacks(text.toStdString(), part.toStdString());
}
#endif
