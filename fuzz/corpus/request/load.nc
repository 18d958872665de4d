%
(LOAD O1234)
%