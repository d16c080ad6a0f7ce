/* The ring ABI of target_core_user (mailbox version 2), as <linux/target_core_user.h> lays it
 * out. That header's inline helpers do not compile as C++, so the layout is restated here as
 * offsets into the packed structures, and TcmuAbiCheck.c holds every value against the kernel's
 * header at build time. Shared by C and C++. */
#ifndef KESTREL_VDEV_TCMU_ABI_H
#define KESTREL_VDEV_TCMU_ABI_H

#define KESTREL_TCMU_MAILBOX_VERSION 2

/* struct tcmu_mailbox */
#define KESTREL_TCMU_MB_VERSION 0
#define KESTREL_TCMU_MB_FLAGS 2
#define KESTREL_TCMU_MB_CMDR_OFF 4
#define KESTREL_TCMU_MB_CMDR_SIZE 8
#define KESTREL_TCMU_MB_CMD_HEAD 12
#define KESTREL_TCMU_MB_CMD_TAIL 64
#define KESTREL_TCMU_MB_SIZE 128 /* cmd_tail sits on its own 64-byte line */

/* struct tcmu_cmd_entry_hdr: len_op holds the entry length, its low three bits the opcode */
#define KESTREL_TCMU_HDR_LEN_OP 0
#define KESTREL_TCMU_HDR_UFLAGS 7
#define KESTREL_TCMU_OP_MASK 0x7u
#define KESTREL_TCMU_OP_PAD 0
#define KESTREL_TCMU_OP_CMD 1
#define KESTREL_TCMU_OP_TMR 2
#define KESTREL_TCMU_UFLAG_UNKNOWN_OP 0x1

/* struct tcmu_cmd_entry: req and rsp overlay each other after the header */
#define KESTREL_TCMU_REQ_IOV_CNT 8
#define KESTREL_TCMU_REQ_CDB_OFF 24 /* the request struct is not packed: 8-byte aligned */
#define KESTREL_TCMU_REQ_IOV 48
#define KESTREL_TCMU_IOV_SIZE 16 /* struct iovec: base (an offset into the map), length */
#define KESTREL_TCMU_RSP_SCSI_STATUS 8
#define KESTREL_TCMU_RSP_SENSE 16
#define KESTREL_TCMU_SENSE_SIZE 96

#endif
