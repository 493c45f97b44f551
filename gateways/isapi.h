// The ISAPI extension and filter structures and constants, declared from the
// interface's public documentation (Windows types mapped to fixed-size ones:
// DWORD 32-bit unsigned, BOOL 32-bit int, handles and pointers native).
#pragma once

#include <cstdint>

extern "C" {

using DWORD = std::uint32_t;
using BOOL = int;
using HCONN = void*;

inline constexpr DWORD HSE_MAX_EXT_DLL_NAME_LEN = 256;
inline constexpr DWORD HSE_LOG_BUFFER_LEN = 80;
inline constexpr DWORD SF_MAX_FILTER_DESC_LEN = 257;

inline constexpr DWORD HSE_STATUS_SUCCESS = 1;
inline constexpr DWORD HSE_STATUS_ERROR = 4;
inline constexpr DWORD HSE_REQ_SEND_URL_REDIRECT_RESP = 1;
inline constexpr DWORD HSE_IO_SYNC = 1;

inline constexpr DWORD SF_NOTIFY_READ_RAW_DATA = 0x00008000;
inline constexpr DWORD SF_STATUS_REQ_NEXT_NOTIFICATION = 0x08000001;

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  char* lpszMethod;
  char* lpszQueryString;
  char* lpszPathInfo;
  char* lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  unsigned char* lpbData;
  char* lpszContentType;
  BOOL (*GetServerVariable)(HCONN hConn, char* lpszVariableName, void* lpvBuffer, DWORD* lpdwSize);
  BOOL (*WriteClient)(HCONN ConnID, void* Buffer, DWORD* lpdwBytes, DWORD dwReserved);
  BOOL (*ReadClient)(HCONN ConnID, void* lpvBuffer, DWORD* lpdwSize);
  BOOL (*ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, void* lpvBuffer, DWORD* lpdwSize,
                                DWORD* lpdwDataType);
};

struct HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  char lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
};

struct HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  void* ServerContext;
  DWORD ulReserved;
  BOOL fIsSecurePort;
  void* pFilterContext;
  BOOL (*GetServerVariable)(HTTP_FILTER_CONTEXT* pfc, char* lpszVariableName, void* lpvBuffer, DWORD* lpdwSize);
  BOOL (*AddResponseHeaders)(HTTP_FILTER_CONTEXT* pfc, char* lpszHeaders, DWORD dwReserved);
  BOOL (*WriteClient)(HTTP_FILTER_CONTEXT* pfc, void* Buffer, DWORD* lpdwBytes, DWORD dwReserved);
  void* (*AllocMem)(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
  BOOL (*ServerSupportFunction)(HTTP_FILTER_CONTEXT* pfc, int sfReq, void* pData, std::uintptr_t ul1,
                                std::uintptr_t ul2);
};

struct HTTP_FILTER_RAW_DATA {
  void* pvInData;
  DWORD cbInData;
  DWORD cbInBuffer;
  DWORD dwReserved;
};

// The entry points a server looks up in the library.
BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer);
DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notificationType, void* pvNotification);
BOOL TerminateExtension(DWORD dwFlags);
}
