#ifndef WEBSETUP_WEBLOG_IWEBLOG_H_
#define WEBSETUP_WEBLOG_IWEBLOG_H_

// The web-log object as other processes see it. Installer scripts get one
// from CreateExportObj and call through its virtual table, so the order of
// the operations below, their argument order and their argument types are
// a binary layout: never reorder, insert or change them. Results are 0 on
// success.
//
// There is deliberately no virtual destructor (it would take table slots);
// objects are destroyed with DestroyExportObj.

class IWebLog {
 public:
  // Slot 0: user operation log (/AddUserLog). Operation id 10202 first sets
  // the use time to the seconds since the object was made. -1 without a
  // request when `opId` or `softwareId` is 0 or no machine GUID is known;
  // -1 when the server's answer is empty or the request fails.
  virtual int AddUserLog(int opId, int result, const char* resultData, int softwareId,
                         int languageId, int siteId, const char* curVersion, const char* email,
                         int activityId, int versionId) = 0;
  // Slot 1: the machine GUID and user id of this machine on the user-log
  // server; *guid and *userId point into the object. Always 0.
  virtual int GetUserIdentity(const char** guid, const char** userId) = 0;
  // Slots 2 to 5: reserved. Always -1.
  virtual int Reserved2() = 0;
  virtual int Reserved3() = 0;
  virtual int Reserved4() = 0;
  virtual int Reserved5() = 0;
  // Slot 6: tool query (/QueryTools). *response points at the stored answer.
  virtual int QueryTools(const char** response, int softwareId, int languageId) = 0;
  // Slot 7: downloader query (/QueryDownloader).
  virtual int QueryDownloader(const char** response, int softwareId, int languageId,
                              int siteId) = 0;
  // Slot 8: report log (/ReportLog); `content` is form-encoded.
  virtual int ReportLog(int softwareId, const char* email, const char* content,
                        const char* uploadId) = 0;
  // Slot 9: support ticket.
  virtual int SendTicket(int productId, const char* version, const char* email,
                         const char* subject, const char* content, const char* logId) = 0;
  // Slot 10: Universal Analytics event.
  virtual int SendUaEvent(const char* trackingId, const char* appName, const char* appVersion,
                          const char* category, const char* action, const char* label,
                          const char* extra) = 0;
  // Slot 11: the analytics document of the data collector, built from a
  // flat JSON text.
  virtual int SoftDataReport(const char* json) = 0;
  // Slot 12: a GA4 Measurement Protocol hit carrying `query`.
  virtual int SendGa4Event(const char* query) = 0;
  // Slot 13: self-test through a local debugging proxy.
  virtual int SelfTest() = 0;

 protected:
  ~IWebLog() = default;
};

extern "C" {
// Makes a WebLog. Null when memory is exhausted.
IWebLog* CreateExportObj();
// Destroys an object made by CreateExportObj. Null does nothing.
void DestroyExportObj(IWebLog* obj);
// Sends one user operation log on a thread of its own and returns 0 at once.
int NSISLog(int opId, int softwareId, int languageId, int siteId);
}

#endif  // WEBSETUP_WEBLOG_IWEBLOG_H_
