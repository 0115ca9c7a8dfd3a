/*
 * The extension interface: the one contract between the Morvane extension
 * library (libmorvane.so) and any HTTP host that loads it.
 *
 * The shape follows the classic web-server extension interface, version 2.0:
 * the host loads the library, asks for its version once, hands it every
 * request through an extension control block, and tells it when it is about
 * to unload it. Only the operations Morvane needs are defined here; the
 * names keep the interface's traditional spelling so that a reader who knows
 * it finds their way at once.
 *
 * This header is plain C on purpose: the host and the extension may be built
 * by different compilers or languages, so nothing here may depend on C++
 * (no exceptions cross it, no classes, no std types). A host includes this
 * header and nothing else of the extension's sources.
 *
 * Lifecycle, as the host drives it:
 *   1. dlopen the library; look up the three entry points below.
 *   2. GetExtensionVersion once, before any request.
 *   3. HttpExtensionProc for every request, from any number of threads at
 *      once; each call runs one request to its end on the calling thread.
 *   4. After the last HttpExtensionProc has returned: TerminateExtension
 *      once, then dlclose.
 *
 * Two optional additions let a host show what the extension does without a
 * fourth entry point (see "Reports and services" below): the extension
 * reports each request's facts through ServerSupportFunction, and hands a
 * host that asks for them in GetExtensionVersion a table of services (its
 * process-wide figures and a readiness check). Both are versioned by size, so
 * an older host or extension on either side simply goes without them.
 */
#ifndef MORVANE_WEB_EXTENSION_ABI_H_
#define MORVANE_WEB_EXTENSION_ABI_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants ---------------------------------------------------------- */

/* Interface version reported by GetExtensionVersion: major in the high 16
 * bits, minor in the low 16 bits. */
#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0
#define HSE_MAKE_VERSION(major, minor) (((0u + (major)) << 16) | ((0u + (minor)) & 0xFFFFu))

/* Size of the description buffer in HSE_VERSION_INFO, terminating zero
 * included. */
#define HSE_MAX_EXT_DLL_NAME_LEN 256

/* Results of HttpExtensionProc. */
#define HSE_STATUS_SUCCESS 1 /* the request was handled */
#define HSE_STATUS_ERROR 4   /* the request was not handled, or failed */

/* Request codes of ServerSupportFunction. */
#define HSE_REQ_SEND_RESPONSE_HEADER 3
/* The request's report (HSE_REQUEST_REPORT); far from the classic codes. */
#define HSE_REQ_REPORT_REQUEST 0x4D560001u

/* The `reserved` argument of WriteClient: the write completes before the
 * call returns. It is the only mode this interface knows. */
#define HSE_IO_SYNC 1

/* The `flags` argument of TerminateExtension: the host unloads the library
 * whatever the answer. */
#define HSE_TERM_MUST_UNLOAD 1

/* ---- Types -------------------------------------------------------------- */

/* Boolean results: nonzero is true. */
typedef int HSE_BOOL;

/* The host's handle of one request. Opaque to the extension: it is only ever
 * passed back to the callbacks of the same control block. */
typedef void* HCONN;

/* What the extension tells the host about itself. */
typedef struct HSE_VERSION_INFO {
  /* HSE_MAKE_VERSION(HSE_VERSION_MAJOR, HSE_VERSION_MINOR). */
  uint32_t dwExtensionVersion;
  /* A zero-terminated description; may be empty. */
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO;

/*
 * The extension control block: one per request, made and owned by the host,
 * valid from the start of HttpExtensionProc until it returns. The extension
 * must not keep a pointer to it, to any of its strings, or to lpbData beyond
 * that call.
 *
 * Every callback takes the block's ConnID as its first argument and may be
 * called only on the thread that runs the request, only during
 * HttpExtensionProc. Callbacks return nonzero on success and zero on
 * failure; a failed callback leaves the request usable (for example, a
 * WriteClient to a client that has gone away fails and the next one may be
 * tried all the same).
 */
typedef struct EXTENSION_CONTROL_BLOCK {
  /* sizeof(EXTENSION_CONTROL_BLOCK) as the host was built. */
  uint32_t cbSize;

  /* The host's handle of this request. */
  HCONN ConnID;

  /* The response status. The host sets 200 before the call; the extension
   * writes the code it answers with before it sends its header block. A
   * host reads it only as a fallback when the status text of the header
   * block carries no code. */
  uint32_t dwHttpStatusCode;

  /* The request method as the client sent it ("GET", "POST", ...), the
   * query string without its leading "?" (raw, not decoded; "" when
   * absent), the request path (decoded; never NULL) and the body's content
   * type ("" when absent). Zero-terminated, never NULL. */
  const char* lpszMethod;
  const char* lpszQueryString;
  const char* lpszPathInfo;
  const char* lpszContentType;

  /* The body: cbTotalBytes is its full length, cbAvailable how many of its
   * bytes lpbData already holds (cbAvailable <= cbTotalBytes). The rest, if
   * any, is read with ReadClient. lpbData may be NULL when cbAvailable is
   * 0. The extension may read but not write the bytes. */
  uint32_t cbTotalBytes;
  uint32_t cbAvailable;
  const unsigned char* lpbData;

  /*
   * GetServerVariable: copies the value of the named variable, zero
   * terminated, into lpvBuffer.
   *   in:  *lpdwSize is the size of lpvBuffer in bytes;
   *   out: on success, *lpdwSize is the number of bytes written, the
   *        terminating zero included, and the result is nonzero. When the
   *        buffer is too small, nothing is written, *lpdwSize is the size
   *        needed and the result is zero. An unknown name gives zero with
   *        *lpdwSize 0.
   * Every host supplies at least:
   *   "SERVER_PROTOCOL"  the request's protocol, "HTTP/1.1" or "HTTP/1.0";
   *                      "" when the request carries none;
   *   "CONTENT_LENGTH"   the body's length in decimal ("0" without body).
   */
  HSE_BOOL(*GetServerVariable)
  (HCONN ConnID, const char* lpszVariableName, void* lpvBuffer, uint32_t* lpdwSize);

  /*
   * WriteClient: writes *lpdwBytes bytes from Buffer to the client, in order
   * after every byte written before. dwReserved is HSE_IO_SYNC. The write
   * is complete when the call returns as far as the extension is concerned
   * (the host may gather small writes into larger ones, but never holds
   * bytes back once HttpExtensionProc has returned). On return *lpdwBytes
   * holds the number of bytes taken. Body bytes written before the header
   * block is sent make the host send a default "200 OK" header block first.
   */
  HSE_BOOL(*WriteClient)
  (HCONN ConnID, const void* Buffer, uint32_t* lpdwBytes, uint32_t dwReserved);

  /*
   * ReadClient: reads up to *lpdwSize further body bytes (those beyond
   * cbAvailable) into lpvBuffer and sets *lpdwSize to the number read; 0
   * means the body has ended. May block until the client sends.
   */
  HSE_BOOL (*ReadClient)(HCONN ConnID, void* lpvBuffer, uint32_t* lpdwSize);

  /*
   * ServerSupportFunction: asks the host for a service. The one request
   * code defined here:
   *
   * HSE_REQ_SEND_RESPONSE_HEADER: sends the status line and the header
   *   block now, before any body byte.
   *     lpvBuffer     the status text, zero terminated: the code, a blank
   *                   and the reason phrase ("200 OK"); NULL means
   *                   "200 OK". It must not hold CR or LF.
   *     lpdwSize      the length of the status text (may be NULL; the text
   *                   is zero terminated anyway).
   *     lpdwDataType  the header block, zero terminated: header lines each
   *                   ending in CR LF, then an empty line (CR LF). Despite
   *                   the traditional name it points to char data.
   *   The host adds the protocol version in front of the status text and
   *   whatever framing headers it needs. When the block carries a
   *   "Content-Length" line the host sends the body as is and trusts the
   *   extension to write exactly that many bytes; otherwise the body ends
   *   when HttpExtensionProc returns. Only the first call per request is
   *   honoured; later calls fail.
   *
   * HSE_REQ_REPORT_REQUEST: what this request was and how it ended, for the
   *   host's counts and access log (see HSE_REQUEST_REPORT below). Called at
   *   most once, as the extension's last act before HttpExtensionProc
   *   returns.
   *     lpvBuffer     the report; its cbSize says how much of it there is.
   *     lpdwSize, lpdwDataType  unused (NULL).
   *   A host that does not know the code fails the call, which changes
   *   nothing for the request.
   *
   * Unknown request codes fail.
   */
  HSE_BOOL(*ServerSupportFunction)
  (HCONN ConnID, uint32_t dwHSERequest, void* lpvBuffer, uint32_t* lpdwSize, void* lpdwDataType);
} EXTENSION_CONTROL_BLOCK;

/* ---- Reports and services ------------------------------------------------
 *
 * Every structure here starts with cbSize, set by the side that made it to
 * sizeof the structure as that side was built. Fields are only ever added
 * at the end; a reader uses the fields that lie wholly within cbSize and
 * takes the others as zero. Counts (qw..., "total") only grow for the life
 * of the loaded library; the other figures are current values.
 */

/* The mode of a request: 0 to 6 are the modes "0" to "6". */
#define HSE_MODE_OTHER 7u /* a mode text that selects no generator */
#define HSE_MODE_NONE 8u  /* not known: the fields were never read */

/* How a request ended, as the extension saw it. */
#define HSE_OUTCOME_ANSWERED 1u      /* the generator ran to its end */
#define HSE_OUTCOME_ERROR_RECORDS 2u /* the answer held error records only */
#define HSE_OUTCOME_LIMIT_PAGE 3u    /* turned away at MaxConnection (500) */
#define HSE_OUTCOME_EXCEPTION               \
  4u /* a failure caught and logged, or the \
        frame's failure page */

typedef struct HSE_REQUEST_REPORT {
  uint32_t cbSize;
  uint32_t dwMode;    /* HSE_MODE_... or 0 to 6 */
  uint32_t dwOutcome; /* HSE_OUTCOME_... */
  uint32_t dwReserved;
  uint64_t qwRecords;      /* records written, error records included */
  uint64_t qwErrorRecords; /* of which error records */
} HSE_REQUEST_REPORT;

/* One store, by the alias that names it. Aliases come from the alias and
 * settings files, never from a request. */
#define HSE_ALIAS_LEN 64 /* szAlias, terminating zero included */
typedef struct HSE_STORE_FIGURES {
  char szAlias[HSE_ALIAS_LEN];
  uint64_t qwLinksKept;      /* idle links kept for reuse now */
  uint64_t qwLinksOpened;    /* links made afresh */
  uint64_t qwLinksReused;    /* opens served by a kept link */
  uint64_t qwLinksDiscarded; /* links closed rather than kept: failed,
                                broken, stale, idle too long, or beyond
                                the bound of kept links */
  uint64_t qwErrors;         /* store errors caught by the request handler */
} HSE_STORE_FIGURES;

#define HSE_MAX_STORES 16
typedef struct HSE_EXTENSION_FIGURES {
  uint32_t cbSize;         /* set by the host */
  uint32_t dwModulesInUse; /* data modules serving a request now */
  uint32_t dwModulesIdle;  /* made and waiting for one */
  int32_t lModulesMax;     /* MaxConnection; 0 or less: no limit */
  uint64_t qwDailyRetries; /* daily-history attempts retried */
  uint64_t qwLogLines;     /* diagnostic log lines written */
  uint32_t dwStores;       /* entries of Stores in use */
  uint32_t dwReserved;
  HSE_STORE_FIGURES Stores[HSE_MAX_STORES];
} HSE_EXTENSION_FIGURES;

/*
 * The extension's services, valid from GetExtensionVersion until
 * TerminateExtension is called. Each function may be called from any host
 * thread, concurrently with requests, and never from inside a request.
 *
 * GetFigures: fills the fields of *pFigures that lie within its cbSize.
 *   Takes a lock or two, never a store: cheap enough for every scrape.
 * CheckReady: whether the extension can serve: its settings file and alias
 *   file can be read and every store its aliases name can be opened. May
 *   take as long as connecting to a store does: call it off the request
 *   path. On failure writes a short text naming what failed (zero
 *   terminated, cut to *lpdwSize bytes) and returns zero.
 * ListProducts: the products the order database lists as valid, in the
 *   order of their codes, each handed to pfnProduct with its English name
 *   (an empty text when the daily-bar store has none); both texts are zero
 *   terminated and valid only during the call. Takes as long as two store
 *   reads: call it off the request path. On failure calls pfnProduct for
 *   none, writes a short text naming what failed as CheckReady does and
 *   returns zero.
 */
typedef void (*PFN_HSE_LISTED_PRODUCT)(void* pContext, const char* lpszSymbol,
                                       const char* lpszName);
typedef HSE_BOOL (*PFN_HSE_LIST_PRODUCTS)(PFN_HSE_LISTED_PRODUCT pfnProduct, void* pContext,
                                          char* lpszProblem, uint32_t* lpdwSize);
typedef struct HSE_EXTENSION_SERVICES {
  uint32_t cbSize; /* set by the extension */
  HSE_BOOL (*GetFigures)(HSE_EXTENSION_FIGURES* pFigures);
  HSE_BOOL (*CheckReady)(char* lpszProblem, uint32_t* lpdwSize);
  PFN_HSE_LIST_PRODUCTS ListProducts;
} HSE_EXTENSION_SERVICES;

/*
 * Asking for the services: the host passes GetExtensionVersion this larger
 * block, with Base.dwExtensionVersion set to HSE_VERSION_INFO_EX_SIGNATURE
 * and cbSize to its size. An extension that knows the signature fills Base
 * as always and sets lpServices (or leaves it NULL); one that does not
 * fills Base only. A host that passes the plain block never carries the
 * signature, so the extension never looks past it.
 */
#define HSE_VERSION_INFO_EX_SIGNATURE 0x4D565831u
typedef struct HSE_VERSION_INFO_EX {
  HSE_VERSION_INFO Base;
  uint32_t cbSize;                          /* set by the host */
  const HSE_EXTENSION_SERVICES* lpServices; /* set by the extension */
} HSE_VERSION_INFO_EX;

/* ---- The extension's entry points ---------------------------------------- */

/* Fills *pVer. Nonzero on success; the host refuses to use an extension
 * that answers zero. Called once, before any request. */
typedef HSE_BOOL (*PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);

/* Runs one request to its end. Returns HSE_STATUS_SUCCESS or
 * HSE_STATUS_ERROR; in both cases whatever the extension sent stands.
 * Safe for concurrent use from any number of host threads. */
typedef uint32_t (*PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);

/* Called once after the last request, before the host unloads the library.
 * dwFlags is HSE_TERM_MUST_UNLOAD. The library's own teardown (every data
 * module, its connections, the log) runs when it is unloaded. */
typedef HSE_BOOL (*PFN_TERMINATEEXTENSION)(uint32_t dwFlags);

/* The exported symbol names, for dlsym. */
#define HSE_GET_EXTENSION_VERSION_SYMBOL "GetExtensionVersion"
#define HSE_HTTP_EXTENSION_PROC_SYMBOL "HttpExtensionProc"
#define HSE_TERMINATE_EXTENSION_SYMBOL "TerminateExtension"

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_WEB_EXTENSION_ABI_H_ */
