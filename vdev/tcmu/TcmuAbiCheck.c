/* Holds TcmuAbi.h against the kernel's own header: a mismatch fails the build. */
#include <linux/target_core_user.h>
#include <stddef.h>

#include "vdev/tcmu/TcmuAbi.h"

#define SAME(a, b) _Static_assert((a) == (b), #a " differs from the kernel's " #b)

SAME(KESTREL_TCMU_MAILBOX_VERSION, TCMU_MAILBOX_VERSION);
SAME(KESTREL_TCMU_MB_VERSION, offsetof(struct tcmu_mailbox, version));
SAME(KESTREL_TCMU_MB_FLAGS, offsetof(struct tcmu_mailbox, flags));
SAME(KESTREL_TCMU_MB_CMDR_OFF, offsetof(struct tcmu_mailbox, cmdr_off));
SAME(KESTREL_TCMU_MB_CMDR_SIZE, offsetof(struct tcmu_mailbox, cmdr_size));
SAME(KESTREL_TCMU_MB_CMD_HEAD, offsetof(struct tcmu_mailbox, cmd_head));
SAME(KESTREL_TCMU_MB_CMD_TAIL, offsetof(struct tcmu_mailbox, cmd_tail));
SAME(KESTREL_TCMU_MB_SIZE, sizeof(struct tcmu_mailbox));
SAME(KESTREL_TCMU_HDR_LEN_OP, offsetof(struct tcmu_cmd_entry_hdr, len_op));
SAME(KESTREL_TCMU_HDR_UFLAGS, offsetof(struct tcmu_cmd_entry_hdr, uflags));
SAME(KESTREL_TCMU_OP_MASK, TCMU_OP_MASK);
SAME(KESTREL_TCMU_OP_PAD, TCMU_OP_PAD);
SAME(KESTREL_TCMU_OP_CMD, TCMU_OP_CMD);
SAME(KESTREL_TCMU_OP_TMR, TCMU_OP_TMR);
SAME(KESTREL_TCMU_UFLAG_UNKNOWN_OP, TCMU_UFLAG_UNKNOWN_OP);
SAME(KESTREL_TCMU_REQ_IOV_CNT, offsetof(struct tcmu_cmd_entry, req.iov_cnt));
SAME(KESTREL_TCMU_REQ_CDB_OFF, offsetof(struct tcmu_cmd_entry, req.cdb_off));
SAME(KESTREL_TCMU_REQ_IOV, offsetof(struct tcmu_cmd_entry, req.iov));
SAME(KESTREL_TCMU_IOV_SIZE, sizeof(struct iovec));
SAME(KESTREL_TCMU_RSP_SCSI_STATUS, offsetof(struct tcmu_cmd_entry, rsp.scsi_status));
SAME(KESTREL_TCMU_RSP_SENSE, offsetof(struct tcmu_cmd_entry, rsp.sense_buffer));
SAME(KESTREL_TCMU_SENSE_SIZE, TCMU_SENSE_BUFFERSIZE);
