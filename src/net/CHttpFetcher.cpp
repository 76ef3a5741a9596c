// The HTTP fetch client.
#include "net/CHttpFetcher.h"

CHttpFetcher::CHttpFetcher() = default;
CHttpFetcher::~CHttpFetcher() = default;
