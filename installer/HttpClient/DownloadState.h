// The record of finished stretches kept beside a download, so a later attempt (or a later run
// of the installer) fetches only what is missing. Pure text in, text out.
#pragma once

#include <string>
#include <vector>

#include "installer/HttpClient/PieceScheduler.h"

// The record's text for this URL (UTF-8), size, validator and stretches (in file order).
std::string FormatDownloadState(const std::string& url, long long size,
                                const std::string& validator,
                                const std::vector<PieceScheduler::Stretch>& done);

// The stretches a record holds when it was written for exactly this URL, size and validator;
// false for any other record, a damaged one or one cut off while written.
bool ParseDownloadState(const std::string& text, const std::string& url, long long size,
                        const std::string& validator, std::vector<PieceScheduler::Stretch>* done);
