/*
 * The EtherCAT master's application interface: the single-context `ec_` API of
 * SOEM 1.4 (names, argument orders, struct fields and constants), so that the
 * tool can be built against this library or against SOEM itself.
 */
#ifndef ECMASTER_ETHERCAT_H
#define ECMASTER_ETHERCAT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef EC_VER2
#define EC_VER1
#endif

/* ---- base types ---- */
typedef uint8_t boolean;
typedef int8_t int8;
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;
typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef float float32;
typedef double float64;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef struct {
    uint32 sec;
    uint32 usec;
} ec_timet;

/* ---- return codes ---- */
#define EC_NOFRAME (-1)
#define EC_OTHERFRAME (-2)
#define EC_ERROR (-3)
#define EC_SLAVECOUNTEXCEEDED (-4)
#define EC_TIMEOUT (-5)

/* ---- timeouts (us) ---- */
#define EC_TIMEOUTRET 2000
#define EC_TIMEOUTRET3 (EC_TIMEOUTRET * 3)
#define EC_TIMEOUTSAFE 20000
#define EC_TIMEOUTEEP 20000
#define EC_TIMEOUTTXM 20000
#define EC_TIMEOUTRXM 700000
#define EC_TIMEOUTSTATE 2000000

/* ---- sizes and limits ---- */
#define EC_MAXSLAVE 200
#define EC_MAXGROUP 2
#define EC_MAXNAME 40
#define EC_MAXSM 8
#define EC_MAXFMMU 4
#define EC_MAXMBX 1486
#define EC_MAXIOSEGMENTS 64
#define EC_MAXELIST 64
#define EC_MAXBUF 16
#define EC_MAXECATFRAME 1518
#define EC_BUFSIZE EC_MAXECATFRAME
#define EC_MAXLRWDATA (EC_MAXECATFRAME - 14 - 2 - 10 - 2 - 4)
#define EC_FIRSTDCDATAGRAM 20
#define EC_MAXEEPBUF 4096
#define EC_MAXEEPBITMAP 128
#define EC_MAXEEPDO 0x200
#define EC_LOGGROUPOFFSET 16
#define EC_DEFAULTRETRIES 3
#define EC_NODEOFFSET 0x1000
#define EC_TEMPNODE 0xffff
#define ETH_P_ECAT 0x88A4
#define EC_ECATTYPE 0x1000
#define EC_SMENABLEMASK 0xfffeffff

/* ---- AL states ---- */
typedef enum {
    EC_STATE_NONE = 0x00,
    EC_STATE_INIT = 0x01,
    EC_STATE_PRE_OP = 0x02,
    EC_STATE_BOOT = 0x03,
    EC_STATE_SAFE_OP = 0x04,
    EC_STATE_OPERATIONAL = 0x08,
    EC_STATE_ACK = 0x10,
    EC_STATE_ERROR = 0x10
} ec_state;

/* ---- datagram commands ---- */
typedef enum {
    EC_CMD_NOP = 0x00,
    EC_CMD_APRD,
    EC_CMD_APWR,
    EC_CMD_APRW,
    EC_CMD_FPRD,
    EC_CMD_FPWR,
    EC_CMD_FPRW,
    EC_CMD_BRD,
    EC_CMD_BWR,
    EC_CMD_BRW,
    EC_CMD_LRD,
    EC_CMD_LWR,
    EC_CMD_LRW,
    EC_CMD_ARMW,
    EC_CMD_FRMW
} ec_cmdtype;

/* ---- EEPROM commands and status ---- */
typedef enum {
    EC_ECMD_NOP = 0x0000,
    EC_ECMD_READ = 0x0100,
    EC_ECMD_WRITE = 0x0201,
    EC_ECMD_RELOAD = 0x0300
} ec_ecmdtype;

#define EC_ESTAT_R64 0x0040
#define EC_ESTAT_BUSY 0x8000
#define EC_ESTAT_EMASK 0x7800
#define EC_ESTAT_NACK 0x2000

/* ---- ESC registers ---- */
enum {
    ECT_REG_TYPE = 0x0000,
    ECT_REG_PORTDES = 0x0007,
    ECT_REG_ESCSUP = 0x0008,
    ECT_REG_STADR = 0x0010,
    ECT_REG_ALIAS = 0x0012,
    ECT_REG_DLCTL = 0x0100,
    ECT_REG_DLPORT = 0x0101,
    ECT_REG_DLALIAS = 0x0103,
    ECT_REG_DLSTAT = 0x0110,
    ECT_REG_ALCTL = 0x0120,
    ECT_REG_ALSTAT = 0x0130,
    ECT_REG_ALSTATCODE = 0x0134,
    ECT_REG_PDICTL = 0x0140,
    ECT_REG_IRQMASK = 0x0200,
    ECT_REG_RXERR = 0x0300,
    ECT_REG_FRXERR = 0x0308,
    ECT_REG_EPUECNT = 0x030C,
    ECT_REG_PECNT = 0x030D,
    ECT_REG_PECODE = 0x030E,
    ECT_REG_LLCNT = 0x0310,
    ECT_REG_WDCNT = 0x0442,
    ECT_REG_EEPCFG = 0x0500,
    ECT_REG_EEPCTL = 0x0502,
    ECT_REG_EEPSTAT = 0x0502,
    ECT_REG_EEPADR = 0x0504,
    ECT_REG_EEPDAT = 0x0508,
    ECT_REG_FMMU0 = 0x0600,
    ECT_REG_FMMU1 = ECT_REG_FMMU0 + 0x10,
    ECT_REG_FMMU2 = ECT_REG_FMMU1 + 0x10,
    ECT_REG_FMMU3 = ECT_REG_FMMU2 + 0x10,
    ECT_REG_SM0 = 0x0800,
    ECT_REG_SM1 = ECT_REG_SM0 + 0x08,
    ECT_REG_SM2 = ECT_REG_SM1 + 0x08,
    ECT_REG_SM3 = ECT_REG_SM2 + 0x08,
    ECT_REG_SM0STAT = ECT_REG_SM0 + 0x05,
    ECT_REG_SM1STAT = ECT_REG_SM1 + 0x05,
    ECT_REG_SM1ACT = ECT_REG_SM1 + 0x06,
    ECT_REG_SM1CONTR = ECT_REG_SM1 + 0x07,
    ECT_REG_DCTIME0 = 0x0900,
    ECT_REG_DCTIME1 = 0x0904,
    ECT_REG_DCTIME2 = 0x0908,
    ECT_REG_DCTIME3 = 0x090C,
    ECT_REG_DCSYSTIME = 0x0910,
    ECT_REG_DCSOF = 0x0918,
    ECT_REG_DCSYSOFFSET = 0x0920,
    ECT_REG_DCSYSDELAY = 0x0928,
    ECT_REG_DCSYSDIFF = 0x092C,
    ECT_REG_DCSPEEDCNT = 0x0930,
    ECT_REG_DCTIMEFILT = 0x0934,
    ECT_REG_DCCUC = 0x0980,
    ECT_REG_DCSYNCACT = 0x0981,
    ECT_REG_DCSTART0 = 0x0990,
    ECT_REG_DCCYCLE0 = 0x09A0,
    ECT_REG_DCCYCLE1 = 0x09A4
};

/* ---- SII word offsets and categories ---- */
enum {
    ECT_SII_START = 0x0040,
    ECT_SII_MANUF = 0x0008,
    ECT_SII_ID = 0x000a,
    ECT_SII_REV = 0x000c,
    ECT_SII_SN = 0x000e,
    ECT_SII_BOOTRXMBX = 0x0014,
    ECT_SII_BOOTTXMBX = 0x0016,
    ECT_SII_MBXSIZE = 0x0019,
    ECT_SII_TXMBXADR = 0x001a,
    ECT_SII_RXMBXADR = 0x0018,
    ECT_SII_MBXPROTO = 0x001c
};

enum {
    ECT_SII_STRING = 10,
    ECT_SII_GENERAL = 30,
    ECT_SII_FMMU = 40,
    ECT_SII_SM = 41,
    ECT_SII_PDO = 50
};

/* ---- mailbox ---- */
enum {
    ECT_MBXPROT_AOE = 0x0001,
    ECT_MBXPROT_EOE = 0x0002,
    ECT_MBXPROT_COE = 0x0004,
    ECT_MBXPROT_FOE = 0x0008,
    ECT_MBXPROT_SOE = 0x0010,
    ECT_MBXPROT_VOE = 0x0020
};

enum {
    ECT_COEDET_SDO = 0x01,
    ECT_COEDET_SDOINFO = 0x02,
    ECT_COEDET_PDOASSIGN = 0x04,
    ECT_COEDET_PDOCONFIG = 0x08,
    ECT_COEDET_UPLOAD = 0x10,
    ECT_COEDET_SDOCA = 0x20
};

enum {
    ECT_MBXT_ERR = 0x00,
    ECT_MBXT_AOE,
    ECT_MBXT_EOE,
    ECT_MBXT_COE,
    ECT_MBXT_FOE,
    ECT_MBXT_SOE,
    ECT_MBXT_VOE = 0x0f
};

enum {
    ECT_COES_EMERGENCY = 0x01,
    ECT_COES_SDOREQ,
    ECT_COES_SDORES,
    ECT_COES_TXPDO,
    ECT_COES_RXPDO,
    ECT_COES_TXPDO_RR,
    ECT_COES_RXPDO_RR,
    ECT_COES_SDOINFO
};

enum {
    ECT_SDO_DOWN_INIT = 0x21,
    ECT_SDO_DOWN_EXP = 0x23,
    ECT_SDO_DOWN_INIT_CA = 0x31,
    ECT_SDO_UP_REQ = 0x40,
    ECT_SDO_UP_REQ_CA = 0x50,
    ECT_SDO_SEG_UP_REQ = 0x60,
    ECT_SDO_ABORT = 0x80
};

enum {
    ECT_SDO_SMCOMMTYPE = 0x1c00,
    ECT_SDO_PDOASSIGN = 0x1c10,
    ECT_SDO_RXPDOASSIGN = 0x1c12,
    ECT_SDO_TXPDOASSIGN = 0x1c13
};

/* CoE data types: the object dictionary's data type indices (ETG.1000.6). */
typedef enum {
    ECT_BOOLEAN = 0x0001,
    ECT_INTEGER8 = 0x0002,
    ECT_INTEGER16 = 0x0003,
    ECT_INTEGER32 = 0x0004,
    ECT_UNSIGNED8 = 0x0005,
    ECT_UNSIGNED16 = 0x0006,
    ECT_UNSIGNED32 = 0x0007,
    ECT_REAL32 = 0x0008,
    ECT_VISIBLE_STRING = 0x0009,
    ECT_OCTET_STRING = 0x000A,
    ECT_UNICODE_STRING = 0x000B,
    ECT_TIME_OF_DAY = 0x000C,
    ECT_TIME_DIFFERENCE = 0x000D,
    ECT_DOMAIN = 0x000F,
    ECT_INTEGER24 = 0x0010,
    ECT_REAL64 = 0x0011,
    ECT_INTEGER64 = 0x0015,
    ECT_UNSIGNED24 = 0x0016,
    ECT_UNSIGNED64 = 0x001B,
    ECT_BIT1 = 0x0030,
    ECT_BIT2 = 0x0031,
    ECT_BIT3 = 0x0032,
    ECT_BIT4 = 0x0033,
    ECT_BIT5 = 0x0034,
    ECT_BIT6 = 0x0035,
    ECT_BIT7 = 0x0036,
    ECT_BIT8 = 0x0037
} ec_datatype;

typedef uint8 ec_mbxbuft[EC_MAXMBX + 1];

/* ---- byte order (little-endian hosts) ---- */
#define htoes(A) ((uint16)(A))
#define htoel(A) ((uint32)(A))
#define htoell(A) ((uint64)(A))
#define etohs(A) ((uint16)(A))
#define etohl(A) ((uint32)(A))
#define etohll(A) ((uint64)(A))
#define MK_WORD(msb, lsb) ((((uint16)(msb)) << 8) | (lsb))
#define HI_BYTE(w) ((w) >> 8)
#define LO_BYTE(w) ((w)&0x00ff)
#define SWAP(w) ((((w)&0xff00) >> 8) | (((w)&0x00ff) << 8))
#define LO_WORD(l) ((l)&0xffff)
#define HI_WORD(l) ((l) >> 16)

/* ---- data structures ---- */
#pragma pack(push, 1)
typedef struct {
    uint16 StartAddr;
    uint16 SMlength;
    uint32 SMflags;
} ec_smt;

typedef struct {
    uint32 LogStart;
    uint16 LogLength;
    uint8 LogStartbit;
    uint8 LogEndbit;
    uint16 PhysStart;
    uint8 PhysStartBit;
    uint8 FMMUtype;
    uint8 FMMUactive;
    uint8 unused1;
    uint16 unused2;
} ec_fmmut;
#pragma pack(pop)

typedef struct ecx_context ecx_contextt;

typedef struct ec_slave {
    uint16 state;
    uint16 ALstatuscode;
    uint16 configadr;
    uint16 aliasadr;
    uint32 eep_man;
    uint32 eep_id;
    uint32 eep_rev;
    uint16 Itype;
    uint16 Dtype;
    uint16 Obits;
    uint32 Obytes;
    uint8* outputs;
    uint8 Ostartbit;
    uint16 Ibits;
    uint32 Ibytes;
    uint8* inputs;
    uint8 Istartbit;
    ec_smt SM[EC_MAXSM];
    uint8 SMtype[EC_MAXSM];
    ec_fmmut FMMU[EC_MAXFMMU];
    uint8 FMMU0func;
    uint8 FMMU1func;
    uint8 FMMU2func;
    uint8 FMMU3func;
    uint16 mbx_l;
    uint16 mbx_wo;
    uint16 mbx_rl;
    uint16 mbx_ro;
    uint16 mbx_proto;
    uint8 mbx_cnt;
    boolean hasdc;
    uint8 ptype;
    uint8 topology;
    uint8 activeports;
    uint8 consumedports;
    uint16 parent;
    uint8 parentport;
    uint8 entryport;
    int32 DCrtA;
    int32 DCrtB;
    int32 DCrtC;
    int32 DCrtD;
    int32 pdelay;
    uint16 DCnext;
    uint16 DCprevious;
    int32 DCcycle;
    int32 DCshift;
    uint8 DCactive;
    uint16 configindex;
    uint16 SIIindex;
    uint8 eep_8byte;
    uint8 eep_pdi;
    uint8 CoEdetails;
    uint8 FoEdetails;
    uint8 EoEdetails;
    uint8 SoEdetails;
    int16 Ebuscurrent;
    uint8 blockLRW;
    uint8 group;
    uint8 FMMUunused;
    boolean islost;
    int (*PO2SOconfig)(uint16 slave);
    int (*PO2SOconfigx)(ecx_contextt* context, uint16 slave);
    char name[EC_MAXNAME + 1];
} ec_slavet;

typedef struct ec_group {
    uint32 logstartaddr;
    uint32 Obytes;
    uint8* outputs;
    uint32 Ibytes;
    uint8* inputs;
    boolean hasdc;
    uint16 DCnext;
    int16 Ebuscurrent;
    uint8 blockLRW;
    uint16 nsegments;
    uint16 Isegment;
    uint16 Ioffset;
    uint16 outputsWKC;
    uint16 inputsWKC;
    boolean docheckstate;
    uint32 IOsegment[EC_MAXIOSEGMENTS];
} ec_groupt;

typedef enum {
    EC_ERR_TYPE_SDO_ERROR = 0,
    EC_ERR_TYPE_EMERGENCY = 1,
    EC_ERR_TYPE_PACKET_ERROR = 3,
    EC_ERR_TYPE_SDOINFO_ERROR = 4,
    EC_ERR_TYPE_FOE_ERROR = 5,
    EC_ERR_TYPE_FOE_BUF2SMALL = 6,
    EC_ERR_TYPE_FOE_PACKETNUMBER = 7,
    EC_ERR_TYPE_SOE_ERROR = 8,
    EC_ERR_TYPE_MBX_ERROR = 9,
    EC_ERR_TYPE_FOE_FILE_NOTFOUND = 10,
    EC_ERR_TYPE_EOE_INVALID_RX_DATA = 11
} ec_err_type;

/* The abort code and the emergency fields share their bytes through an
 * anonymous struct in an anonymous union, as applications expect to name them;
 * both compilers accept it as an extension, which is all it is. */
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#endif
typedef struct {
    ec_timet Time;
    boolean Signal;
    uint16 Slave;
    uint16 Index;
    uint8 SubIdx;
    ec_err_type Etype;
    union {
        int32 AbortCode;
        __extension__ struct {
            uint16 ErrorCode;
            uint8 ErrorReg;
            uint8 b1;
            uint16 w1;
            uint16 w2;
        };
    };
} ec_errort;
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

typedef struct {
    int16 head;
    int16 tail;
    ec_errort Error[EC_MAXELIST + 1];
} ec_eringt;

typedef struct {
    uint8 pushed;
    uint8 pulled;
    uint8 idx[EC_MAXBUF];
    void* data[EC_MAXBUF];
    uint16 length[EC_MAXBUF];
    uint16 dcoffset[EC_MAXBUF];
} ec_idxstackT;

typedef struct {
    uint8 n;
    uint8 nu1;
    uint8 SMtype[EC_MAXSM];
} ec_SMcommtypet;

typedef struct {
    uint8 n;
    uint8 nu1;
    uint16 index[256];
} ec_PDOassignt;

typedef struct {
    uint8 n;
    uint8 nu1;
    uint32 PDO[256];
} ec_PDOdesct;

typedef struct {
    uint16 Startpos;
    uint8 nSM;
    uint16 PhStart;
    uint16 Plength;
    uint8 Creg;
    uint8 Sreg;
    uint8 Activate;
    uint8 PDIctrl;
} ec_eepromSMt;

typedef struct {
    uint16 Startpos;
    uint8 nFMMU;
    uint8 FMMU0;
    uint8 FMMU1;
    uint8 FMMU2;
    uint8 FMMU3;
} ec_eepromFMMUt;

/* The transport behind the master; only its address is used by applications. */
typedef struct ecx_port ecx_portt;
typedef struct ecx_redport ecx_redportt;

struct ecx_context {
    ecx_portt* port;
    ec_slavet* slavelist;
    int* slavecount;
    int maxslave;
    ec_groupt* grouplist;
    int maxgroup;
    uint8* esibuf;
    uint32* esimap;
    uint16 esislave;
    ec_eringt* elist;
    ec_idxstackT* idxstack;
    boolean* ecaterror;
    uint16 DCtO;
    uint16 DCl;
    int64* DCtime;
    ec_SMcommtypet* SMcommtype;
    ec_PDOassignt* PDOassign;
    ec_PDOdesct* PDOdesc;
    ec_eepromSMt* eepSM;
    ec_eepromFMMUt* eepFMMU;
    int (*FOEhook)(uint16 slave, int packetnumber, int datasize);
    int (*EOEhook)(ecx_contextt* context, uint16 slave, void* eoembx);
    int manualstatechange;
};

typedef struct ec_adapter ec_adaptert;
struct ec_adapter {
    char name[128];
    char desc[128];
    ec_adaptert* next;
};

/* ---- globals ---- */
extern ec_slavet ec_slave[EC_MAXSLAVE];
extern int ec_slavecount;
extern ec_groupt ec_group[EC_MAXGROUP];
extern boolean EcatError;
extern int64 ec_DCtime;
extern ecx_contextt ecx_context;

/* ---- lifecycle ---- */
int ec_init(const char* ifname);
void ec_close(void);
ec_adaptert* ec_find_adapters(void);
void ec_free_adapters(ec_adaptert* adapter);

/* ---- configuration ---- */
int ec_config_init(uint8 usetable);
int ec_config_map(void* pIOmap);
int ec_config_map_group(void* pIOmap, uint8 group);
int ec_config(uint8 usetable, void* pIOmap);
boolean ec_configdc(void);
void ec_dcsync0(uint16 slave, boolean act, uint32 CyclTime, int32 CyclShift);

/* ---- states ---- */
int ec_readstate(void);
int ec_writestate(uint16 slave);
uint16 ec_statecheck(uint16 slave, uint16 reqstate, int timeout);

/* ---- process data ---- */
int ec_send_processdata(void);
int ec_receive_processdata(int timeout);
int ec_send_processdata_group(uint8 group);
int ec_receive_processdata_group(uint8 group, int timeout);

/* ---- mailbox / CoE ---- */
int ec_mbxsend(uint16 slave, ec_mbxbuft* mbx, int timeout);
int ec_mbxreceive(uint16 slave, ec_mbxbuft* mbx, int timeout);
int ec_SDOread(uint16 slave, uint16 index, uint8 subindex, boolean CA, int* psize, void* p,
               int timeout);
int ec_SDOwrite(uint16 Slave, uint16 Index, uint8 SubIndex, boolean CA, int psize, const void* p,
                int Timeout);

/* ---- EEPROM (SII) ---- */
int ec_eeprom2master(uint16 slave);
int ec_eeprom2pdi(uint16 slave);
uint64 ec_readeepromAP(uint16 aiadr, uint16 eeproma, int timeout);
int ec_writeeepromAP(uint16 aiadr, uint16 eeproma, uint16 data, int timeout);
uint64 ec_readeepromFP(uint16 configadr, uint16 eeproma, int timeout);
int ec_writeeepromFP(uint16 configadr, uint16 eeproma, uint16 data, int timeout);
uint32 ec_readeeprom(uint16 slave, uint16 eeproma, int timeout);
int ec_writeeeprom(uint16 slave, uint16 eeproma, uint16 data, int timeout);
uint8 ec_siigetbyte(uint16 slave, uint16 address);
int16 ec_siifind(uint16 slave, uint16 cat);
void ec_siistring(char* str, uint16 slave, uint16 Sn);
uint8 ec_siiFMMU(uint16 slave, ec_eepromFMMUt* FMMU);
uint16 ec_siiSM(uint16 slave, ec_eepromSMt* SM);
uint16 ec_siiSMnext(uint16 slave, ec_eepromSMt* SM, uint16 n);

/* ---- raw datagrams ---- */
int ec_BWR(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ec_BRD(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ec_APRD(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ec_ARMW(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ec_FRMW(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
uint16 ec_APRDw(uint16 ADP, uint16 ADO, int timeout);
int ec_FPRD(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
uint16 ec_FPRDw(uint16 ADP, uint16 ADO, int timeout);
int ec_APWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout);
int ec_APWR(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ec_FPWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout);
int ec_FPWR(uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ec_LRW(uint32 LogAdr, uint16 length, void* data, int timeout);
int ec_LRD(uint32 LogAdr, uint16 length, void* data, int timeout);
int ec_LWR(uint32 LogAdr, uint16 length, void* data, int timeout);

int ecx_FPWRw(ecx_portt* port, uint16 ADP, uint16 ADO, uint16 data, int timeout);
int ecx_FPWR(ecx_portt* port, uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);
int ecx_FPRD(ecx_portt* port, uint16 ADP, uint16 ADO, uint16 length, void* data, int timeout);

/* ---- slave registers by configured station address (the tool's own helpers) ----
 * slave is the index into the slave table; writes wait 6000 us, reads 2000 us.
 * Result: the working counter (0 when no slave answered; a read then leaves the
 * caller's word or buffer as it was), EC_NOFRAME when nothing could be sent. */
int ec_writeregw(uint16 slave, uint16 regadr, uint16 value);
int ec_readregw(uint16 slave, uint16 regadr, uint16* value);
int ec_writereg(uint16 slave, uint16 regadr, uint8* data, uint16 length);
int ec_readreg(uint16 slave, uint16 regadr, uint8* data, uint16 length);
int ecx_writeregw(ecx_contextt* context, uint16 slave, uint16 regadr, uint16 value);
int ecx_readregw(ecx_contextt* context, uint16 slave, uint16 regadr, uint16* value);
int ecx_writereg(ecx_contextt* context, uint16 slave, uint16 regadr, uint8* data, uint16 length);
int ecx_readreg(ecx_contextt* context, uint16 slave, uint16 regadr, uint8* data, uint16 length);

/* ---- recovery ---- */
int ec_recover_slave(uint16 slave, int timeout);
int ec_reconfig_slave(uint16 slave, int timeout);

/* ---- errors and texts ---- */
boolean ec_iserror(void);
boolean ec_poperror(ec_errort* Ec);
void ec_pusherror(const ec_errort* Ec);
void ec_packeterror(uint16 Slave, uint16 Index, uint8 SubIdx, uint16 ErrorCode);
char* ec_elist2string(void);
/* The text ec_elist2string gives for `Ec`, without the list (the calling
   thread's buffer). */
char* ecx_err2string(const ec_errort Ec);
char* ec_ALstatuscode2string(uint16 ALstatuscode);
char* ec_sdoerror2string(uint32 sdoerrorcode);
char* ec_mbxerror2string(uint16 errorcode);

#ifdef __cplusplus
}
#endif

#endif /* ECMASTER_ETHERCAT_H */
