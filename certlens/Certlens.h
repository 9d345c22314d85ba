/* The certificate viewer library's interface: GetFunctionList fills a table
   of three entries. The token manager loads the library at run time and
   resolves only GetFunctionList. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, major in the high half. */
typedef unsigned long (*CERTLENS_GET_VERSION)(void);
/* 0 when the library can show a dialog (a running toolkit), else an error. */
typedef unsigned long (*CERTLENS_IS_READY)(void);
/* Shows the certificate (encoding 1: DER) in a modal details dialog: 0 when
   closed, 1223 when cancelled (Escape, the close box), 87 for an encoding
   other than 1 or bytes that are not a certificate, 1 when not ready. */
typedef unsigned long (*CERTLENS_VIEW_CERTIFICATE)(
    unsigned long encoding, const unsigned char* der, unsigned long length);

typedef struct CERTLENS_FUNCTION_LIST {
    CERTLENS_GET_VERSION GetVersion;
    CERTLENS_IS_READY IsReady;
    CERTLENS_VIEW_CERTIFICATE ViewCertificate;
} CERTLENS_FUNCTION_LIST;

typedef unsigned long (*CERTLENS_GET_FUNCTION_LIST)(CERTLENS_FUNCTION_LIST* list);

/* 0 with the table filled, 87 for a null table. */
unsigned long GetFunctionList(CERTLENS_FUNCTION_LIST* list);

#define CERTLENS_VERSION 0x00010000UL
#define CERTLENS_RESULT_CANCELLED 1223UL
#define CERTLENS_RESULT_INVALID_PARAMETER 87UL
#define CERTLENS_RESULT_NOT_READY 1UL

#ifdef __cplusplus
}
#endif
