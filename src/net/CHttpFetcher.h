// Fetches one URL over HTTP(S) into text lines or into a file, on a worker thread, while the
// calling thread keeps handling its events.
#pragma once

class CHttpFetcher {
public:
    CHttpFetcher();
    virtual ~CHttpFetcher();
};
